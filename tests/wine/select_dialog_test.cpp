// The selection dialog under Wine over a real folder tree with Korean names,
// driven from a second thread while it runs modally on the main thread.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "select/select_ids.h"
#include "com_support.h"
#include "select_support.h"
#include "support/wine_support.h"
#include "update/popup_api.h"

namespace trv::selecttest {
namespace {

const std::wstring kRoot = L"C:\\trvsel";
const std::wstring kWorked = kRoot + L"\\예제";
const std::wstring kMixed = kRoot + L"\\혼합";
const std::wstring kMany = kRoot + L"\\여럿";  // more lines than the list shows

std::string Ansi(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n - 1 : 0), '\0');
    if (n > 1) WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    return out;
}

HWND List(HWND dialog) { return GetDlgItem(dialog, IDC_FILES); }

std::vector<Triple> Triples(std::initializer_list<Triple> list) { return list; }

class SelectDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(GetACP(), 949u) << "the tests expect the Korean ANSI code page";
        RemoveTree(kRoot);
        bool ok = MakeFolder(kRoot);
        ok = ok && MakeFolder(kWorked) && MakeFolder(kWorked + L"\\문서") &&
             MakeFile(kWorked + L"\\문서\\가.txt", 10) && MakeFolder(kWorked + L"\\문서\\하위") &&
             MakeFile(kWorked + L"\\문서\\하위\\나.txt", 5) && MakeFile(kWorked + L"\\x파일.bin", 7);
        ok = ok && MakeFolder(kMixed) &&
             MakeFile(kMixed + L"\\숨김.txt", 1, FILE_ATTRIBUTE_HIDDEN) &&
             MakeFile(kMixed + L"\\시스템.sys", 1, FILE_ATTRIBUTE_SYSTEM) &&
             MakeFolder(kMixed + L"\\숨김폴더") && MakeFile(kMixed + L"\\숨김폴더\\안보임.txt", 2) &&
             MakeFolder(kMixed + L"\\시스템폴더") && MakeFile(kMixed + L"\\시스템폴더\\안.txt", 3) &&
             MakeFolder(kMixed + L"\\빈폴더") && MakeFile(kMixed + L"\\보통.txt", 4) && MakeFolder(kMany);
        for (int i = 100; i < 130; ++i)  // File00.txt to File29.txt
            ok = ok && MakeFile(kMany + L"\\File" + std::to_wstring(i).substr(1) + L".txt", 1);
        // Folder attributes last: a hidden folder's contents are made first.
        ok = ok && MakeFolder(kMixed + L"\\숨김폴더", FILE_ATTRIBUTE_HIDDEN) &&
             MakeFolder(kMixed + L"\\시스템폴더", FILE_ATTRIBUTE_SYSTEM);
        ASSERT_TRUE(ok) << "could not build the folder tree";
        ASSERT_TRUE(GetFileAttributesW((kMixed + L"\\숨김.txt").c_str()) & FILE_ATTRIBUTE_HIDDEN)
            << "this file system keeps no DOS attributes";
    }
    void SetUp() override { ASSERT_TRUE(SetRemembered(L"C:\\", kWorked)); }

    RecordingSink sink;
};

// The pixels of one small icon drawn on white.
std::vector<COLORREF> Drawn(HIMAGELIST images, int index) {
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP canvas = CreateCompatibleBitmap(screen, 16, 16);
    HGDIOBJ old = SelectObject(memory, canvas);
    RECT all = {0, 0, 16, 16};
    FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    ImageList_Draw(images, index, memory, 0, 0, ILD_NORMAL);
    std::vector<COLORREF> pixels;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) pixels.push_back(GetPixel(memory, x, y));
    SelectObject(memory, old);
    DeleteObject(canvas);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

TEST_F(SelectDialog, ShowsItsTemplateAndTheRememberedFolder) {
    std::wstring caption, add, close, path;
    std::vector<std::wstring> names, kinds, sizes;
    int widths[3] = {-1, -1, -1};
    wchar_t headers[2][32] = {};
    DWORD extended = 0;
    int parentImage = -1, places = 0;
    COLORREF arrow = 0, corner = 0, folderArrow = 0;
    std::wstring firstPlace, currentPlace;
    const INT_PTR result = RunDialog(&sink, [&](HWND dialog) {
        caption = Text(dialog);
        add = Text(GetDlgItem(dialog, IDC_ADD_SELECTED));
        close = Text(GetDlgItem(dialog, IDCANCEL));
        path = Text(GetDlgItem(dialog, IDC_PATH));
        HWND list = List(dialog);
        names = Column(list, 0);
        sizes = Column(list, 1);
        kinds = Column(list, 2);
        for (int i = 0; i < 3; ++i)
            widths[i] = static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, i, 0));
        for (int i = 0; i < 2; ++i) {
            LVCOLUMNW column = {};
            column.mask = LVCF_TEXT;
            column.pszText = headers[i];
            column.cchTextMax = 32;
            SendMessageW(list, LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
        }
        extended = static_cast<DWORD>(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
        LVITEMW item = {};
        item.mask = LVIF_IMAGE;
        item.iItem = 0;
        SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        parentImage = item.iImage;
        auto images = reinterpret_cast<HIMAGELIST>(SendMessageW(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
        // The parent entry's image on white: the arrow is green, the magenta
        // corner is transparent.
        const std::vector<COLORREF> parent = Drawn(images, parentImage);
        arrow = parent[10 * 16 + 7];
        corner = parent[0];
        item.iItem = 1;  // the folder line has the shell's folder icon
        SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        folderArrow = Drawn(images, item.iImage)[10 * 16 + 7];
        HWND combo = GetDlgItem(dialog, IDC_PLACES);
        places = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
        wchar_t text[MAX_PATH] = {};
        SendMessageW(combo, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(text));
        firstPlace = text;
        const LRESULT current = SendMessageW(combo, CB_GETCURSEL, 0, 0);
        text[0] = 0;
        SendMessageW(combo, CB_GETLBTEXT, current, reinterpret_cast<LPARAM>(text));
        currentPlace = text;
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(caption, L"파일/폴더 선택창");
    EXPECT_EQ(add, L"선택 폴더(파일) 추가");
    EXPECT_EQ(close, L"닫기");
    EXPECT_EQ(path, kWorked);
    EXPECT_EQ(names, (std::vector<std::wstring>{L" ..", L"문서", L"x파일.bin"}));
    EXPECT_EQ(kinds, (std::vector<std::wstring>{L"0", L"1", L"2"}));
    ASSERT_EQ(sizes.size(), 3u);
    EXPECT_EQ(sizes[0], L"");
    EXPECT_EQ(sizes[1], L"");
    EXPECT_NE(sizes[2].find(L'7'), std::wstring::npos) << "display size of 7 bytes";
    EXPECT_EQ(widths[0], 300);
    EXPECT_EQ(widths[1], 120);
    EXPECT_EQ(widths[2], 0);
    EXPECT_STREQ(headers[0], L"이름");
    EXPECT_STREQ(headers[1], L"크기");
    EXPECT_EQ(extended, static_cast<DWORD>(LVS_EX_GRIDLINES | LVS_EX_ONECLICKACTIVATE));
    EXPECT_GE(parentImage, 0);
    EXPECT_NE(folderArrow, RGB(32, 128, 48)) << "a folder line must not show the parent picture";
    EXPECT_EQ(arrow, RGB(32, 128, 48));
    EXPECT_EQ(corner, RGB(255, 255, 255));
    EXPECT_GE(places, 2);
    EXPECT_EQ(firstPlace, L"바탕 화면");
    EXPECT_NE(currentPlace.find(L"C:"), std::wstring::npos) << "the remembered C:\\ is current";
    EXPECT_EQ(sink.Count(), 0u);
}

TEST_F(SelectDialog, WorkedExampleReportsFiveTriplesInOrder) {
    int selectedAfter = -1;
    bool enabledAfter = false, openAfter = false;
    RunDialog(&sink, [&](HWND dialog) {
        HWND list = List(dialog);
        Select(list, {LineOf(list, L"문서"), LineOf(list, L"x파일.bin")});
        PressAdd(dialog);
        selectedAfter = SelectedCount(list);
        enabledAfter = IsWindowEnabled(GetDlgItem(dialog, IDC_ADD_SELECTED));
        openAfter = IsWindowVisible(dialog);
    });
    const std::wstring docs = kWorked + L"\\문서";
    EXPECT_EQ(sink.Take(), Triples({{docs, L"-1", L"-1"},
                                    {docs + L"\\하위", L"-1", docs},
                                    {docs + L"\\하위\\나.txt", L"5", docs},
                                    {docs + L"\\가.txt", L"10", docs},
                                    {kWorked + L"\\x파일.bin", L"7", L"-1"}}));
    EXPECT_EQ(sink.reportsWhileEnabled, 0) << "the add button is disabled during a press";
    EXPECT_EQ(selectedAfter, 0);
    EXPECT_TRUE(enabledAfter);
    EXPECT_TRUE(openAfter);
}

// The same press through the registered control: ShowUpFileDlg called by
// name, each entry arriving at a connected sink as UpSelectComplete.
TEST_F(SelectDialog, ThroughTheRegisteredControlAConnectedSinkGetsTheSameTriples) {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    {
        comtest::Ptr<IDispatch> object = comtest::CreateDispatch();
        ASSERT_TRUE(object);
        comtest::Ptr<IConnectionPointContainer> container;
        ASSERT_EQ(object->QueryInterface(IID_IConnectionPointContainer, container.PutVoid()), S_OK);
        comtest::Ptr<IConnectionPoint> point;
        ASSERT_EQ(container->FindConnectionPoint(DIID__IWebBBSEvents, point.Put()), S_OK);
        comtest::Sink page(1);
        DWORD cookie = 0;
        ASSERT_EQ(point->Advise(&page, &cookie), S_OK);
        HRESULT shown = E_FAIL;
        DriveDialog(
            [&] {
                shown = comtest::CallByName(object.Get(), L"ShowUpFileDlg", {});
                return INT_PTR(0);
            },
            nullptr,
            [&](HWND dialog) {
                HWND list = List(dialog);
                Select(list, {LineOf(list, L"문서"), LineOf(list, L"x파일.bin")});
                PressAdd(dialog);
            });
        EXPECT_EQ(shown, S_OK);
        std::vector<Triple> received;
        for (const comtest::Event& event : page.events) {
            EXPECT_EQ(event.dispid, 2);
            received.push_back(event.args);
        }
        const std::wstring docs = kWorked + L"\\문서";
        EXPECT_EQ(received, Triples({{docs, L"-1", L"-1"},
                                     {docs + L"\\하위", L"-1", docs},
                                     {docs + L"\\하위\\나.txt", L"5", docs},
                                     {docs + L"\\가.txt", L"10", docs},
                                     {kWorked + L"\\x파일.bin", L"7", L"-1"}}));
        EXPECT_EQ(point->Unadvise(cookie), S_OK);
    }
    CoUninitialize();
}

// The page's handler pumps messages (an alert) during the first report of a
// press: meanwhile the user double-clicks into a folder and picks a file there,
// and another program posts a click on the disabled add button. The press
// reports what was picked, once, and nothing else.
class MovingOnSink : public RecordingSink {
public:
    HRESULT Report(BSTR strPath, BSTR strSize, BSTR strMode) override {
        RecordingSink::Report(strPath, strSize, strMode);
        if (moved || !dialog) return S_OK;
        moved = true;
        HWND list = List(dialog);
        RECT line = {LVIR_LABEL, 0, 0, 0};
        SendMessageW(list, LVM_GETITEMRECT, LineOf(list, L"문서"), reinterpret_cast<LPARAM>(&line));
        const LPARAM at = MAKELPARAM(line.left + 4, (line.top + line.bottom) / 2);
        for (UINT message : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
            PostMessageW(list, message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, at);
        Pump();
        Select(list, {LineOf(list, L"가.txt")});
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_ADD_SELECTED, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_ADD_SELECTED)));
        Pump();
        return S_OK;
    }
    bool moved = false;

private:
    static void Pump() {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
};

TEST_F(SelectDialog, PostedClickAndMoveDuringAPressReportOnlyWhatWasPicked) {
    MovingOnSink moving;
    std::wstring pathAfter;
    RunDialog(&moving, [&](HWND dialog) {
        HWND list = List(dialog);
        Select(list, {LineOf(list, L"문서"), LineOf(list, L"x파일.bin")});
        PressAdd(dialog);
        pathAfter = Text(GetDlgItem(dialog, IDC_PATH));
    });
    const std::wstring docs = kWorked + L"\\문서";
    EXPECT_EQ(pathAfter, docs) << "the double-click was handled during the press";
    EXPECT_EQ(moving.Take(), Triples({{docs, L"-1", L"-1"},
                                      {docs + L"\\하위", L"-1", docs},
                                      {docs + L"\\하위\\나.txt", L"5", docs},
                                      {docs + L"\\가.txt", L"10", docs},
                                      {kWorked + L"\\x파일.bin", L"7", L"-1"}}));
}

TEST_F(SelectDialog, AddWithNothingOrOnlyTheParentSelectedReportsNothing) {
    int selectedAfterParent = -1;
    bool enabledAfterNothing = false;
    RunDialog(&sink, [&](HWND dialog) {
        HWND list = List(dialog);
        Select(list, {});
        PressAdd(dialog);
        enabledAfterNothing = IsWindowEnabled(GetDlgItem(dialog, IDC_ADD_SELECTED));
        Select(list, {0});
        PressAdd(dialog);
        selectedAfterParent = SelectedCount(list);
    });
    EXPECT_EQ(sink.Count(), 0u);
    EXPECT_TRUE(enabledAfterNothing);
    EXPECT_EQ(selectedAfterParent, 0);
}

TEST_F(SelectDialog, HiddenAndSystemEntriesAndEmptyFolder) {
    std::vector<std::wstring> names, kinds;
    ASSERT_TRUE(SetRemembered(L"C:\\", kMixed));
    RunDialog(&sink, [&](HWND dialog) {
        HWND list = List(dialog);
        names = Column(list, 0);
        kinds = Column(list, 2);
        std::vector<int> all;
        for (int i = 0; i < ItemCount(list); ++i) all.push_back(i);
        Select(list, all);  // the parent entry too: it is skipped
        PressAdd(dialog);
    });
    // Folders come before files; within each group the enumeration's order holds.
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(names[0], L" ..");
    std::vector<std::wstring> folders(names.begin() + 1, names.begin() + 3);
    std::sort(folders.begin(), folders.end());
    EXPECT_EQ(folders, (std::vector<std::wstring>{L"빈폴더", L"시스템폴더"}));
    EXPECT_EQ(names[3], L"보통.txt");
    EXPECT_EQ(kinds, (std::vector<std::wstring>{L"0", L"1", L"1", L"2"}));

    auto got = sink.Take();
    const std::wstring system = kMixed + L"\\시스템폴더";
    const std::wstring empty = kMixed + L"\\빈폴더";
    std::vector<Triple> expected;
    for (std::size_t i = 1; i < 3; ++i) {
        if (names[i] == L"시스템폴더") {
            expected.push_back({system, L"-1", L"-1"});
            expected.push_back({system + L"\\안.txt", L"3", system});
        } else {
            expected.push_back({empty, L"-1", L"-1"});  // exactly one event
        }
    }
    expected.push_back({kMixed + L"\\보통.txt", L"4", L"-1"});
    EXPECT_EQ(got, expected);
}

TEST_F(SelectDialog, DoubleClickUsesFirstSelectedLineAndIgnoresFiles) {
    std::wstring afterFile, afterMulti, afterParent;
    std::vector<std::wstring> namesAfterMulti, namesAtParent;
    RunDialog(&sink, [&](HWND dialog) {
        HWND list = List(dialog);
        HWND path = GetDlgItem(dialog, IDC_PATH);
        Select(list, {LineOf(list, L"x파일.bin")});
        DoubleClick(dialog, LineOf(list, L"x파일.bin"));
        afterFile = Text(path);
        // Several lines: the lowest selected one counts, not the clicked one.
        Select(list, {LineOf(list, L"문서"), LineOf(list, L"x파일.bin")});
        DoubleClick(dialog, LineOf(list, L"x파일.bin"));
        afterMulti = Text(path);
        namesAfterMulti = Column(list, 0);
        Select(list, {0});
        DoubleClick(dialog, 0);
        afterParent = Text(path);
        namesAtParent = Column(list, 0);
    });
    EXPECT_EQ(afterFile, kWorked);
    EXPECT_EQ(afterMulti, kWorked + L"\\문서");
    ASSERT_EQ(namesAfterMulti.size(), 3u);
    EXPECT_EQ(namesAfterMulti[0], L" ..");
    EXPECT_EQ(namesAfterMulti[1], L"하위");
    EXPECT_EQ(namesAfterMulti[2], L"가.txt");
    EXPECT_EQ(afterParent, kWorked + L"\\");
    EXPECT_EQ(namesAtParent, (std::vector<std::wstring>{L" ..", L"문서", L"x파일.bin"}));
    EXPECT_EQ(sink.Count(), 0u);
}

// A click on a line as the user makes it, with MK_SHIFT or MK_CONTROL; a double-click if asked.
void Click(HWND list, int line, WPARAM keys = 0, bool twice = false) {
    SendMessageW(list, LVM_ENSUREVISIBLE, line, FALSE);
    RECT rect = {LVIR_LABEL, 0, 0, 0};
    SendMessageW(list, LVM_GETITEMRECT, line, reinterpret_cast<LPARAM>(&rect));
    const LPARAM at = MAKELPARAM(rect.left + 4, (rect.top + rect.bottom) / 2);
    SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON | keys, at);
    SendMessageW(list, WM_LBUTTONUP, keys, at);
    if (!twice) return;
    SendMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON | keys, at);
    SendMessageW(list, WM_LBUTTONUP, keys, at);
}

TEST_F(SelectDialog, RealDoubleClickOnAFolderEntersIt) {
    std::wstring after;
    RunDialog(&sink, [&](HWND dialog) {
        Click(List(dialog), LineOf(List(dialog), L"문서"), 0, true);
        WaitUntil([&] { return Text(GetDlgItem(dialog, IDC_PATH)) != kWorked; }, 3000);
        after = Text(GetDlgItem(dialog, IDC_PATH));
    });
    EXPECT_EQ(after, kWorked + L"\\문서");
}

// The list keeps no lines of its own: lines picked in the list view's own ranges, beyond the lines ever
// drawn, each reach the page once in listing order, and a selection does not outlive its listing.
TEST_F(SelectDialog, ClickedRangesAndPicksReportEachLineOnceAndDieWithTheListing) {
    // Clicks (line, keys; 30 is the last line), then perhaps a double-click, then the add button.
    struct Row { const char* attack; std::vector<std::pair<int, WPARAM>> clicks; bool open; std::vector<int> lines; };
    std::vector<int> files;
    for (int line = 1; line <= 30; ++line) files.push_back(line);
    const Row rows[] = {
        {"range from the parent entry over lines never drawn", {{0, 0}, {30, MK_SHIFT}}, false, files},
        {"lines picked apart, out of order", {{25, 0}, {3, MK_CONTROL}, {7, MK_CONTROL}}, false, {3, 7, 25}},
        {"selection carried into the next listing", {{0, 0}, {30, MK_SHIFT}}, true, {}},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(SetRemembered(L"C:\\", kMany));
        std::vector<std::wstring> names;
        RunDialog(&sink, [&](HWND dialog) {
            names = Column(List(dialog), 0);
            for (const auto& click : row.clicks) Click(List(dialog), click.first, click.second);
            if (row.open) DoubleClick(dialog, 0);
            PressAdd(dialog);
        });
        std::vector<Triple> expected;
        for (int line : row.lines) expected.push_back({kMany + L"\\" + names.at(line), L"1", L"-1"});
        EXPECT_EQ(sink.Take(), expected) << row.attack;
    }
}

// Typing a name's first letters selects its line, in either case, Korean too.
TEST_F(SelectDialog, TypedPrefixSelectsTheLineItNamesOrNothing) {
    struct Row { const char* attack; const std::wstring& folder; int clicked; const wchar_t* typed;
                 const wchar_t* selected; };
    const Row rows[] = {
        {"prefix in mixed case, longer than its first letter", kMany, 0, L"fILE1", L"File10.txt"},
        {"Korean prefix", kWorked, 2, L"문", L"문서"},
        {"no line starts so: the selection stays", kWorked, 1, L"q", L"문서"},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(SetRemembered(L"C:\\", row.folder));
        std::wstring selected = L"<none>";
        RunDialog(&sink, [&](HWND dialog) {
            Click(List(dialog), row.clicked);
            for (const wchar_t* c = row.typed; *c; ++c) SendMessageW(List(dialog), WM_CHAR, *c, 1);
            const auto line = SendMessageW(List(dialog), LVM_GETNEXTITEM, -1, LVNI_SELECTED);
            if (line >= 0) selected = Column(List(dialog), 0).at(line);
        });
        EXPECT_EQ(selected, row.selected) << row.attack;
    }
}

TEST_F(SelectDialog, EnterInTheListActsAsTheAddButton) {
    bool reported = false;
    RunDialog(&sink, [&](HWND dialog) {
        HWND list = List(dialog);
        Select(list, {LineOf(list, L"x파일.bin")});
        PostMessageW(list, WM_KEYDOWN, VK_RETURN, 0);
        reported = WaitUntil([&] { return sink.Count() >= 1; });
        Sleep(200);
    });
    EXPECT_TRUE(reported);
    EXPECT_EQ(sink.Take(), Triples({{kWorked + L"\\x파일.bin", L"7", L"-1"}}));
}

TEST_F(SelectDialog, EveryWayOfClosingFiresNothing) {
    const INT_PTR byButton = RunDialog(&sink, [&](HWND dialog) {
        Select(List(dialog), {1, 2});
        SendMessageW(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
    });
    const INT_PTR byEscape = RunDialog(&sink, [&](HWND dialog) {
        Select(List(dialog), {1});
        PostMessageW(List(dialog), WM_KEYDOWN, VK_ESCAPE, 0);
        WaitUntil([&] { return !IsWindow(dialog); });
    });
    const INT_PTR byCloseBox = RunDialog(&sink, [&](HWND dialog) {
        PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        WaitUntil([&] { return !IsWindow(dialog); });
    });
    EXPECT_EQ(byButton, IDCANCEL);
    EXPECT_EQ(byEscape, IDCANCEL);
    EXPECT_EQ(byCloseBox, IDCANCEL);
    EXPECT_EQ(sink.Count(), 0u);
}

TEST_F(SelectDialog, ReopeningShowsLastPlaceAndFolder) {
    RunDialog(&sink, [&](HWND dialog) {
        HWND list = List(dialog);
        Select(list, {LineOf(list, L"문서")});
        DoubleClick(dialog, 0);
        Select(list, {LineOf(list, L"하위")});
        DoubleClick(dialog, 0);
    });
    const std::wstring sub = kWorked + L"\\문서\\하위";
    EXPECT_EQ(ReadRemembered(L"strWebDrive"), L"C:\\");
    EXPECT_EQ(ReadRemembered(L"strWebPath"), sub);
    std::wstring path;
    std::vector<std::wstring> names;
    RunDialog(&sink, [&](HWND dialog) {
        path = Text(GetDlgItem(dialog, IDC_PATH));
        names = Column(List(dialog), 0);
    });
    EXPECT_EQ(path, sub);
    EXPECT_EQ(names, (std::vector<std::wstring>{L" ..", L"나.txt"}));
}

TEST_F(SelectDialog, DesktopPlaceListsDesktopWithoutParentEntry) {
    wchar_t desktop[MAX_PATH] = {};
    ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, desktop, CSIDL_DESKTOP, TRUE));
    ASSERT_TRUE(MakeFile(std::wstring(desktop) + L"\\바탕메모.txt", 3));
    std::wstring path, place;
    std::vector<std::wstring> names;
    RunDialog(&sink, [&](HWND dialog) {
        HWND combo = GetDlgItem(dialog, IDC_PLACES);
        SendMessageW(combo, CB_SETCURSEL, 0, 0);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_PLACES, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(combo));
        path = Text(GetDlgItem(dialog, IDC_PATH));
        place = Text(combo);
        names = Column(List(dialog), 0);
    });
    EXPECT_EQ(place, L"바탕 화면");
    EXPECT_EQ(path, desktop);
    ASSERT_FALSE(names.empty());
    EXPECT_NE(names[0], L" ..");
    EXPECT_NE(std::find(names.begin(), names.end(), L"바탕메모.txt"), names.end());
    EXPECT_EQ(ReadRemembered(L"strWebDrive"), desktop);
    EXPECT_EQ(ReadRemembered(L"strWebPath"), desktop);
    DeleteFileW((std::wstring(desktop) + L"\\바탕메모.txt").c_str());
}

TEST_F(SelectDialog, RememberedDriveThatIsGoneListsItsFolderEmpty) {
    ASSERT_TRUE(SetRemembered(L"Q:\\", L"Q:\\없는폴더"));
    std::wstring path, place;
    std::vector<std::wstring> names;
    RunDialog(&sink, [&](HWND dialog) {
        path = Text(GetDlgItem(dialog, IDC_PATH));
        place = Text(GetDlgItem(dialog, IDC_PLACES));
        names = Column(List(dialog), 0);
    });
    EXPECT_EQ(path, L"Q:\\없는폴더");
    EXPECT_EQ(place, L"바탕 화면");
    EXPECT_EQ(names, (std::vector<std::wstring>{L" .."}));
}

std::vector<COLORREF> ShellIcon(const std::wstring& path, DWORD attributes = 0, UINT flags = 0) {
    SHFILEINFOW info = {};
    auto images = reinterpret_cast<HIMAGELIST>(SHGetFileInfoW(
        path.c_str(), attributes, &info, sizeof info, flags | SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
    return Drawn(images, info.iIcon);
}

// Icons are looked up as lines are shown, shared by type where the shell
// derives them from the name alone; a shortcut and a folder that names its
// own icon (desktop.ini) keep theirs. Every line shows what the shell shows
// for its path.
TEST_F(SelectDialog, EveryLineShowsTheShellsIconForItsPath) {
    const std::wstring folder = kRoot + L"\\아이콘";
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring mine = std::wstring(system) + L"\\winemine.exe";
    const std::wstring shortcut = folder + L"\\바로가기.lnk", own = folder + L"\\꾸민폴더";
    const std::wstring ini = own + L"\\desktop.ini";
    bool ok = MakeFolder(folder) && MakeFile(folder + L"\\메모.txt", 1) && MakeFile(folder + L"\\도움말.chm", 2) &&
              MakeFolder(folder + L"\\폴더") && MakeFolder(own) &&
              WritePrivateProfileStringW(L".ShellClassInfo", L"IconFile", mine.c_str(), ini.c_str()) &&
              WritePrivateProfileStringW(L".ShellClassInfo", L"IconIndex", L"0", ini.c_str()) &&
              SetFileAttributesW(own.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY);
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    {
        comtest::Ptr<IShellLinkW> link;
        comtest::Ptr<IPersistFile> file;
        ok = ok && SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                              link.PutVoid())) &&
             SUCCEEDED(link->SetPath(mine.c_str())) && SUCCEEDED(link->SetIconLocation(mine.c_str(), 0)) &&
             SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.PutVoid())) &&
             SUCCEEDED(file->Save(shortcut.c_str(), TRUE));
    }
    // More lines than come with the listing: the later ones are asked for.
    for (int i = 0; i < 40; ++i) ok = ok && MakeFile(folder + L"\\채움" + std::to_wstring(i) + L".txt", 1);
    ASSERT_TRUE(ok);
    ASSERT_NE(ShellIcon(shortcut), ShellIcon(L"x.lnk", FILE_ATTRIBUTE_NORMAL, SHGFI_USEFILEATTRIBUTES))
        << "the shortcut must have an icon of its own";
    ASSERT_NE(ShellIcon(own), ShellIcon(folder + L"\\폴더")) << "the folder must name its own icon";
    ASSERT_NE(ShellIcon(folder + L"\\도움말.chm"), ShellIcon(folder + L"\\메모.txt")) << "two type icons";

    ASSERT_TRUE(SetRemembered(L"C:\\", folder));
    std::vector<std::wstring> names;
    std::vector<std::vector<COLORREF>> shown;
    RunDialog(&sink, [&](HWND dialog) {
        HWND list = List(dialog);
        names = Column(list, 0);
        auto images = reinterpret_cast<HIMAGELIST>(SendMessageW(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
        for (int line = 0; line < static_cast<int>(names.size()); ++line) {
            LVITEMW item = {};
            item.mask = LVIF_IMAGE;
            item.iItem = line;
            SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
            shown.push_back(Drawn(images, item.iImage));
        }
    });
    CoUninitialize();
    ASSERT_EQ(names.size(), 46u);
    for (std::size_t line = 1; line < names.size(); ++line)
        EXPECT_EQ(shown[line], ShellIcon(folder + L"\\" + names[line])) << "line " << line << ": " << Ansi(names[line]);
}

// Saves the dialog as it shows on the screen, as a 24-bit BMP; a CTest step
// converts it to PNG beside it.
bool SaveWindowBitmap(HWND window, const std::wstring& file) {
    RECT rect;
    winetest::ScreenCapture capture;
    return GetWindowRect(window, &rect) && winetest::CaptureScreen(rect, &capture) &&
           winetest::WriteFileBytes(Ansi(file), capture.Bmp());
}

TEST_F(SelectDialog, Screenshot) {
    const char* build = std::getenv("TRV_BUILD_DIR");
    ASSERT_NE(build, nullptr);
    std::wstring folder = L"Z:";
    for (const char* c = build; *c; ++c) folder += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    folder += L"\\artifacts";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring file = folder + L"\\select-dialog.bmp";
    DeleteFileW(file.c_str());
    bool saved = false;
    RunDialog(&sink, [&](HWND dialog) {
        HWND list = List(dialog);
        Select(list, {LineOf(list, L"문서")});
        RedrawWindow(dialog, nullptr, nullptr,
                     RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        Sleep(700);
        saved = SaveWindowBitmap(dialog, file);
    });
    EXPECT_TRUE(saved);
    EXPECT_NE(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
}

// --- the pop-up allow list ---

DWORD AllowValue(const wchar_t* name, DWORD& type) {
    DWORD value = 0xFFFFFFFF, size = sizeof value;
    type = REG_NONE;
    if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Internet Explorer\\New Windows\\Allow",
                     name, RRF_RT_ANY, &type, &value, &size) != ERROR_SUCCESS)
        return 0xEEEEEEEE;
    return size == 4 ? value : 0xDDDDDDDD;
}

TEST(AllowPopUp, WritesDwordZeroForNewExistingAndEmptyNames) {
    // A Korean host name goes in its ASCII form only.
    DWORD type = 0;
    EXPECT_FALSE(AllowPopUpSite(Ansi(L"www.예제.co.kr")));
    EXPECT_EQ(AllowValue(L"www.예제.co.kr", type), 0xEEEEEEEEu);
    EXPECT_TRUE(AllowPopUpSite("www.xn--2j5b21b.co.kr"));
    EXPECT_EQ(AllowValue(L"www.xn--2j5b21b.co.kr", type), 0u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));

    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER,
                              L"Software\\Microsoft\\Internet Explorer\\New Windows\\Allow", 0,
                              nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD seven = 7;
    RegSetValueExW(key, L"old.example", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&seven), 4);
    RegCloseKey(key);
    AllowPopUpSite("old.example");
    EXPECT_EQ(AllowValue(L"old.example", type), 0u);

    AllowPopUpSite("");
    EXPECT_EQ(AllowValue(nullptr, type), 0u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
}

}  // namespace
}  // namespace trv::selecttest
