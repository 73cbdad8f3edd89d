// Opening benchmark: the whole opening of the selection dialog (dialog made,
// places filled, the remembered folder of N files listed, the first page
// drawn) against a bare fill of a list view with the same names and size
// texts in the same run. Prints each time and ratio.
// Arguments: the folder sizes (default 2000 20000 200000). Folders that are
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

// Time this thread has run (user and kernel): the machine's other load does
// not count in it.
double ThreadSeconds() {
    FILETIME created, ended, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user)) return 0;
    const auto ticks = [](const FILETIME& t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}

// Bytes in use in the process's heaps (where the list view and the listing
// keep their lines).
double HeapBytes() {
    HANDLE heaps[64];
    const DWORD count = std::min<DWORD>(GetProcessHeaps(64, heaps), 64);
    double bytes = 0;
    for (DWORD h = 0; h < count; ++h) {
        if (!HeapLock(heaps[h])) continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[h], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) bytes += entry.cbData;
        HeapUnlock(heaps[h]);
    }
    return bytes;
}

std::wstring FolderOf(int files) { return kBase + L"\\f" + std::to_wstring(files); }

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
    const std::wstring folder = FolderOf(files);
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

struct Timing {
    double wall = 1e9, thread = 1e9;  // fastest of the rounds
    double read = 1e9;                // one read of the folder (the bare fill's first pass)
    double memory = 0;                // heap bytes per line while shown
    bool complete = true;
    void Take(double w, double t) {
        wall = std::min(wall, w);
        thread = std::min(thread, t);
    }
};

// What a listing cannot do without: read the folder as a listing reads it
// (folders pass, files pass) and put each name with its size text into a list
// view, then draw the first page.
void BareFill(int files, HWND host, Timing& timing) {
    struct Found {
        std::string name;
        LONGLONG size;
    };
    std::vector<Found> found;
    const std::string pattern = "C:\\trv-listing\\f" + std::to_string(files) + "\\*.*";
    const double m0 = HeapBytes();
    const double t0 = Now(), r0 = ThreadSeconds();
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
        if (pass == 0) timing.read = std::min(timing.read, Now() - t0);
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
    timing.Take(Now() - t0, ThreadSeconds() - r0);
    timing.memory = (HeapBytes() - m0) / files;
    timing.complete = timing.complete && ItemCount(list) == files;
    DestroyWindow(list);
}

// The opening ends when the dialog, shown, first finds its queue empty
// (WM_ENTERIDLE to its owner) and has drawn what is pending.
struct Opening {
    double t0 = 0, r0 = 0, m0 = 0;
    Timing* timing = nullptr;
    int lines = -1;
};
Opening* g_opening = nullptr;

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ENTERIDLE && wParam == MSGF_DIALOGBOX && g_opening) {
        const HWND dialog = reinterpret_cast<HWND>(lParam);
        if (IsWindowVisible(dialog)) {
            RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
            Opening& opening = *g_opening;
            opening.timing->Take(Now() - opening.t0, ThreadSeconds() - opening.r0);
            opening.lines = ItemCount(GetDlgItem(dialog, IDC_FILES));
            opening.timing->memory = HeapBytes() - opening.m0;
            g_opening = nullptr;
            EndDialog(dialog, IDCANCEL);
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void OpenDialog(int files, HWND owner, Timing& timing) {
    SetRemembered(L"C:\\", FolderOf(files));
    Opening opening;
    opening.timing = &timing;
    g_opening = &opening;
    opening.m0 = HeapBytes();
    opening.t0 = Now();
    opening.r0 = ThreadSeconds();
    {
        trv::UploadSelect dialog(nullptr);
        dialog.DoModal(owner);
    }
    g_opening = nullptr;
    timing.memory /= files;
    timing.complete = timing.complete && opening.lines == files + 1;  // and the parent entry
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes = {2000, 20000, 200000};
    std::vector<char> made(sizes.size(), 0);
    bool ready = MakeFolder(kBase);
    for (std::size_t s = 0; ready && s < sizes.size(); ++s) {
        bool m = false;
        ready = sizes[s] > 0 && MakeFolderOf(sizes[s], m);
        made[s] = m;
    }
    if (!ready) {
        std::printf("could not make the folders\n");
        return 1;
    }
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSW owner = {};
    owner.lpfnWndProc = OwnerProc;
    owner.hInstance = GetModuleHandleW(nullptr);
    owner.lpszClassName = L"trv-bench-owner";
    RegisterClassW(&owner);
    HWND host = CreateWindowExW(0, L"trv-bench-owner", L"", WS_POPUP, 0, 0, 400, 180, nullptr, nullptr,
                                owner.hInstance, nullptr);

    // Rounds alternate the bare fill and the opening of each size, so both
    // see the same load; the fastest of each counts.
    std::vector<Timing> opening(sizes.size()), bare(sizes.size());
    for (int round = 0; round < 5; ++round) {
        for (std::size_t s = 0; s < sizes.size(); ++s) {
            BareFill(sizes[s], host, bare[s]);
            OpenDialog(sizes[s], host, opening[s]);
        }
    }
    DestroyWindow(host);
    for (std::size_t s = 0; s < sizes.size(); ++s)
        if (made[s]) RemoveTree(FolderOf(sizes[s]));

    bool complete = true;
    for (std::size_t s = 0; s < sizes.size(); ++s) {
        std::printf("%d files: opening %.0f ms, bare fill %.0f ms (one read of the folder %.0f ms), "
                    "opening / bare fill %.2f (thread time %.2f); heap per line %.0f bytes (bare fill %.0f)\n",
                    sizes[s], opening[s].wall * 1e3, bare[s].wall * 1e3, bare[s].read * 1e3,
                    opening[s].wall / bare[s].wall, opening[s].thread / bare[s].thread, opening[s].memory,
                    bare[s].memory);
        complete = complete && opening[s].complete && bare[s].complete;
    }
    for (std::size_t s = 1; s < sizes.size(); ++s)
        std::printf("opening %d / %d files: %.2f (bare fill %.2f)\n", sizes[s], sizes[s - 1],
                    opening[s].wall / opening[s - 1].wall, bare[s].wall / bare[s - 1].wall);
    if (!complete) std::printf("an opening or fill missed lines\n");
    return complete ? 0 : 1;
}
