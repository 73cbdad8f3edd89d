// Listing benchmark: opening a folder of N files in the selection dialog
// (double-click to the first page drawn) against a bare fill of a list view
// with the same names and sizes in the same run. Prints ratios only.
// Arguments: the two folder sizes (default 20000 40000). Folders that are
// missing under C:\trv-listing are made here and removed afterwards (under
// Wine, bench/select-listing makes them faster from outside).
#include <windows.h>
#include <commctrl.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/win32/wide_text.h"
#include "select/select_ids.h"
#include "select_support.h"

namespace {

using namespace trv::selecttest;

const std::wstring kBase = L"C:\\trv-listing";
// A download folder: mostly documents and pictures, some programs.
const wchar_t* const kExtensions[] = {L".jpg", L".png", L".txt", L".pdf", L".zip", L".mp4", L".exe"};

double Now() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

// Time the thread has run (user and kernel): the machine's other load does
// not count in it.
double ThreadSeconds(HANDLE thread) {
    FILETIME created, ended, kernel, user;
    if (!GetThreadTimes(thread, &created, &ended, &kernel, &user)) return 0;
    const auto ticks = [](const FILETIME& t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}

std::wstring FolderName(int files) { return L"f" + std::to_wstring(files); }

bool MakeSizedFile(const std::wstring& path, LONGLONG size) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER at;
    at.QuadPart = size;
    const bool ok = SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    return ok;
}

// Makes the folder unless it is there (made says whether this made it);
// false when it could not.
bool MakeFolderOf(int files, bool& made) {
    const std::wstring folder = kBase + L"\\" + FolderName(files);
    made = GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES;
    if (!made) return true;
    if (!MakeFolder(folder)) return false;
    for (int i = 0; i < files; ++i) {
        const std::wstring name = L"file" + std::to_wstring(i) + kExtensions[i % 7];
        if (!MakeSizedFile(folder + L"\\" + name, (i * 7919LL) % 3000000)) return false;
    }
    return true;
}

// Makes the list view paint what it shows, as it would on the screen.
void DrawFirstPage(HWND list) {
    RECT client;
    GetClientRect(list, &client);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP canvas = CreateCompatibleBitmap(screen, client.right, client.bottom);
    HGDIOBJ old = SelectObject(memory, canvas);
    SendMessageW(list, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT | PRF_ERASEBKGND);
    SelectObject(memory, old);
    DeleteObject(canvas);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

// What a listing cannot do without: read the folder as a listing reads it
// (folders pass, files pass) and put each name with its size text into a list
// view, then draw the first page. Seconds, or -1 when a line is missing.
double BareFill(int files, HWND host) {
    struct Found {
        std::string name;
        LONGLONG size;
    };
    std::vector<Found> found;
    const std::string pattern = "C:\\trv-listing\\f" + std::to_string(files) + "\\*.*";
    const double t0 = Now();
    for (int pass = 0; pass < 2; ++pass) {
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA(pattern.c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) continue;
        do {
            const bool dir = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (pass == 1 && !dir)
                found.push_back({data.cFileName, static_cast<LONGLONG>(
                                                     (ULONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow)});
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    HWND list = CreateWindowExW(0, WC_LISTVIEWW, L"",
                                WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_SHAREIMAGELISTS,
                                0, 0, 400, 180, host, nullptr, nullptr, nullptr);
    for (int i = 0; i < 3; ++i) {
        LVCOLUMNW column = {};
        column.mask = LVCF_WIDTH | LVCF_SUBITEM;
        column.cx = i == 0 ? 300 : i == 1 ? 120 : 0;
        column.iSubItem = i;
        SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    for (std::size_t i = 0; i < found.size(); ++i) {
        std::wstring name = trv::WidenAnsi(found[i].name);
        char sizeText[256] = {};
        StrFormatByteSize64A(found[i].size, sizeText, sizeof sizeText);
        std::wstring size = trv::WidenAnsi(sizeText);
        wchar_t kind[] = L"2";
        LVITEMW item = {};
        item.mask = LVIF_TEXT | LVIF_PARAM;
        item.iItem = static_cast<int>(i);
        item.pszText = &name[0];
        item.lParam = static_cast<LPARAM>(i);
        const int index = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        LVITEMW sub = {};
        sub.iSubItem = 1;
        sub.pszText = &size[0];
        SendMessageW(list, LVM_SETITEMTEXTW, index, reinterpret_cast<LPARAM>(&sub));
        sub.iSubItem = 2;
        sub.pszText = kind;
        SendMessageW(list, LVM_SETITEMTEXTW, index, reinterpret_cast<LPARAM>(&sub));
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    DrawFirstPage(list);
    const double took = Now() - t0;
    const bool complete = ItemCount(list) == files;
    DestroyWindow(list);
    return complete ? took : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const int sizes[2] = {argc > 1 ? std::atoi(argv[1]) : 20000, argc > 2 ? std::atoi(argv[2]) : 40000};
    bool made[2] = {false, false};
    if (!MakeFolder(kBase) || !MakeFolderOf(sizes[0], made[0]) || !MakeFolderOf(sizes[1], made[1])) {
        std::printf("could not make the folders\n");
        return 1;
    }
    SetRemembered(L"C:\\", kBase);

    // Rounds alternate the bare fill and the listing of each size, so both
    // see the same load; the fastest of each counts.
    double listing[2] = {1e9, 1e9}, bare[2] = {1e9, 1e9};
    double listingRun[2] = {1e9, 1e9}, bareRun[2] = {1e9, 1e9};  // thread times
    HANDLE dialogThread = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &dialogThread, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    bool complete = true;
    trv::SelectionSink* none = nullptr;
    RunDialog(none, [&](HWND dialog) {
        HWND list = GetDlgItem(dialog, IDC_FILES);
        HWND host = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 400, 180, nullptr, nullptr, nullptr,
                                    nullptr);
        for (int round = 0; round < 5; ++round) {
            for (int s = 0; s < 2; ++s) {
                const double r0 = ThreadSeconds(GetCurrentThread());
                const double fill = BareFill(sizes[s], host);
                bareRun[s] = std::min(bareRun[s], ThreadSeconds(GetCurrentThread()) - r0);
                complete = complete && fill >= 0;
                bare[s] = std::min(bare[s], fill);
                const int line = LineOf(list, FolderName(sizes[s]));
                Select(list, {line});
                const double t0 = Now(), d0 = ThreadSeconds(dialogThread);
                DoubleClick(dialog, line);  // returns once the folder is listed
                DrawFirstPage(list);
                listing[s] = std::min(listing[s], Now() - t0);
                listingRun[s] = std::min(listingRun[s], ThreadSeconds(dialogThread) - d0);
                complete = complete && line >= 0 && ItemCount(list) == sizes[s] + 1;
                Select(list, {0});
                DoubleClick(dialog, 0);  // back up
            }
        }
        DestroyWindow(host);
    });
    for (int s = 0; s < 2; ++s)
        if (made[s]) RemoveTree(kBase + L"\\" + FolderName(sizes[s]));
    for (int s = 0; s < 2; ++s)
        std::printf("%d files: listing %.0f ms, bare fill %.0f ms\n", sizes[s], listing[s] * 1e3, bare[s] * 1e3);
    std::printf("listing / bare fill, %d files: %.2f\n", sizes[0], listing[0] / bare[0]);
    std::printf("listing %d / %d files: %.2f (bare fill: %.2f)\n", sizes[1], sizes[0], listing[1] / listing[0],
                bare[1] / bare[0]);
    std::printf("the same in thread time: %.2f and %.2f (bare fill: %.2f)\n", listingRun[0] / bareRun[0],
                listingRun[1] / listingRun[0], bareRun[1] / bareRun[0]);
    CloseHandle(dialogThread);
    if (!complete) std::printf("a listing or fill missed lines\n");
    return complete ? 0 : 1;
}
