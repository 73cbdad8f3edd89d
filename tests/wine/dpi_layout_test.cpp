// Both dialogs at 96 and 144 DPI. Wine takes the scale from LogPixels as a program starts, so the test runs
// itself once per scale, and moves some dialogs to the other as when a window changes monitors (WM_DPICHANGED).
#include <windows.h>
#include <commctrl.h>
#include <process.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "resources/resource.h"
#include "select/select_ids.h"
#include "select_support.h"
#include "support/wine_support.h"
#include "update/file_update_window.h"

namespace trv {
namespace {

// What a build that gets the row wrong shows; the selection dialog, else the install/update one;
// the program's scale, and 0 or the one it moves to; the list's icon size; font height in pixels;
// whether the move comes forged from another program (to be ignored).
struct Row { const char* fault; bool select; UINT dpi, movedTo; int icon, font; bool forged; };
const Row kRows[] = {
    {"reference layout", true, 96, 0, 16, 12, false},
    {"16-pixel parent picture lost in a 24-pixel list, 96-DPI columns", true, 144, 0, 24, 18, false},
    {"a move keeps the old icons, font or places", true, 96, 144, 24, 18, false},
    {"a move back leaves 144-DPI sizes behind", true, 144, 96, 16, 12, false},
    {"a forged move (unreadable rectangle, no such scale) crashes or rescales the host", true, 96, 144, 16, 12, true},
    {"reference layout", false, 96, 0, 0, 11, false},
    {"status text clipped at 144 DPI", false, 144, 0, 0, 16, false},
    {"a move keeps the old font or places", false, 96, 144, 0, 16, false},
};

// Every control inside the client area, over no other, in the font for the scale, and each text
// a button or label shows (for the status line, each it may show) within it.
void CheckLayout(HWND dialog, int fontHeight) {
    RECT client, overlap, r, inside;
    GetClientRect(dialog, &client);
    std::vector<RECT> seen;
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        SCOPED_TRACE("control " + std::to_string(GetDlgCtrlID(c)));
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= client.right && r.bottom <= client.bottom);
        for (const RECT& other : seen) EXPECT_FALSE(IntersectRect(&overlap, &r, &other));
        seen.push_back(r);
        const auto font = reinterpret_cast<HFONT>(SendMessageW(c, WM_GETFONT, 0, 0));
        LOGFONTW lf = {};
        EXPECT_TRUE(GetObjectW(font, sizeof lf, &lf) && -lf.lfHeight == fontHeight) << lf.lfHeight;
        wchar_t cls[16] = {};
        const int margin = GetClassNameW(c, cls, 16) && lstrcmpiW(cls, L"Button") == 0 ? 8 : 0;
        if (!margin && lstrcmpiW(cls, L"Static") != 0) continue;
        std::vector<std::wstring> texts{selecttest::Text(c)};
        if (GetDlgCtrlID(c) == IDC_STATUS)
            texts.insert(texts.end(), {L"Downloaded.. 1023 바이트 of 1023 바이트       ", L"설치중입니다..",
                                       kInstallerGoneStatus, kResultUnreadableStatus});
        GetClientRect(c, &inside);
        HDC dc = GetDC(c);
        SelectObject(dc, font);
        for (const std::wstring& text : texts) {
            RECT need = {0, 0, inside.right - margin, 0};
            DrawTextW(dc, text.c_str(), -1, &need, DT_CALCRECT | DT_WORDBREAK);
            EXPECT_TRUE(need.right <= inside.right - margin && need.bottom <= inside.bottom) << winetest::Ansi(text);
        }
        ReleaseDC(c, dc);
    }
}

// Opens the row's dialog here and checks it on a second thread once it shows; then closes it, and
// the failure box of a closed download.
void Check(const Row& row) {
    const wchar_t* caption = row.select ? L"파일/폴더 선택창" : L"타르보스크 프로그램 설치";
    std::atomic<bool> closed{false};
    std::thread user([&, main = GetCurrentThreadId()] {
        SCOPED_TRACE(std::string(row.select ? "selection: " : "install: ") + row.fault + " at " + std::to_string(row.dpi) + " DPI");
        HWND d = nullptr;
        const bool shown = winetest::WaitUntil([&] { return (d = FindWindowW(L"#32770", caption)) && IsWindowVisible(d); }, 30000);
        ASSERT_TRUE(shown || !PostThreadMessageW(main, WM_QUIT, 0, 0));  // none: the row fails and its modal loop ends
        if (row.movedTo) {
            RECT want, now;
            GetWindowRect(d, &want);
            want.right = want.left + MulDiv(want.right - want.left, row.movedTo, row.dpi);
            want.bottom = want.top + MulDiv(want.bottom - want.top, row.movedTo, row.dpi);
            const LPARAM to = row.forged ? 1 : reinterpret_cast<LPARAM>(&want);  // 1: nothing there
            SendMessageW(d, WM_DPICHANGED, MAKEWPARAM(row.movedTo, row.movedTo), to);
            if (row.forged) SendMessageW(d, WM_DPICHANGED, MAKEWPARAM(9999, 9999), reinterpret_cast<LPARAM>(&want));
            EXPECT_TRUE(GetWindowRect(d, &now) && EqualRect(&now, &want) != row.forged) << "the suggested rectangle";
        }
        if (HWND list = GetDlgItem(d, IDC_FILES)) {
            EXPECT_EQ(SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0), MulDiv(300, row.icon, 16));
            auto images = reinterpret_cast<HIMAGELIST>(SendMessageW(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
            int cx = 0, cy = 0;
            EXPECT_TRUE(ImageList_GetIconSize(images, &cx, &cy) && cx == row.icon && cy == row.icon);
            LVITEMW parent = {LVIF_IMAGE};  // line 0: its picture drawn on white, green on the arrow's shaft
            SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&parent));
            HDC memory = CreateCompatibleDC(nullptr);
            const HGDIOBJ before = SelectObject(memory, CreateBitmap(cx, cx, 1, 32, nullptr));
            PatBlt(memory, 0, 0, cx, cx, WHITENESS);
            ImageList_Draw(images, parent.iImage, memory, 0, 0, ILD_NORMAL);
            EXPECT_EQ(GetPixel(memory, cx / 2, cx * 10 / 16), RGB(32, 128, 48)) << "the parent picture";
            EXPECT_EQ(GetPixel(memory, 0, 0), RGB(255, 255, 255)) << "its magenta transparent";
            DeleteObject(SelectObject(memory, before));
            DeleteDC(memory);
        }
        CheckLayout(d, row.font);
        PostMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0);
        for (HWND box; !closed; Sleep(50))
            if ((box = FindWindowW(L"#32770", L"알림"))) PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    selecttest::RecordingSink sink;
    row.select ? UploadSelect(&sink).DoModal(nullptr) : FileUpdateWindow().DoModal(nullptr);
    closed = true;
    user.join();
}

// At one scale, in a program of its own; the update stays up on a trickled installer until closed.
void RunRowsAt(UINT dpi) {
    ASSERT_TRUE(selecttest::MakeFolder(L"C:\\trvdpi") && selecttest::MakeFolder(L"C:\\trvdpi\\하위") &&
                selecttest::MakeFile(L"C:\\trvdpi\\가.txt", 3) && selecttest::SetRemembered(L"C:\\", L"C:\\trvdpi"));
    const std::string temp = winetest::BuildDir() + "\\dpi-temp";
    winetest::SetEnv("TMP", temp.c_str());
    DeleteFileA((winetest::InstallDir() + "ver.ini").c_str());
    // The version file served is this test's own, not one an earlier test left (the build puts setup.exe there).
    ASSERT_TRUE(winetest::MakeFolder(temp) && winetest::SwitchUpdateServer("trickle=setup.exe\n") &&
                winetest::WriteFileBytes(winetest::BuildDir() + "\\update-server\\client\\ver.ini", "TARVOSK client 2.4.1\r\n"));
    for (const Row& row : kRows)
        if (row.dpi == dpi) Check(row);
    winetest::SwitchUpdateServer("");
}

TEST(DialogsAtEveryScale, ClippedTextOverlapOrWrongSizedImagesAt96And144Dpi) {
    if (const char* run = std::getenv("TRV_DPI_RUN")) return RunRowsAt(static_cast<UINT>(std::atoi(run)));
    for (UINT dpi : {96u, 144u}) {
        RegSetKeyValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels", REG_DWORD, &dpi, sizeof dpi);
        winetest::SetEnv("TRV_DPI_RUN", std::to_string(dpi).c_str());
        EXPECT_EQ(_spawnl(_P_WAIT, _pgmptr, "self", "--gtest_filter=DialogsAtEveryScale.*", nullptr), 0) << dpi << " DPI";
    }
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels");  // Wine's default again
}

}  // namespace
}  // namespace trv
