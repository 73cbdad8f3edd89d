// dialog_driver: stands in for the user in unattended demo runs. It watches
// for the control's two dialogs, takes a screenshot of each, and in the
// selection dialog selects the named lines, presses the add button and closes.
//
//   dialog_driver.exe --shots DIR [--tag TEXT] [--select NAME]... [--timeout SECONDS]
//
// The shots are DIR\update-dialog<TEXT>.bmp and DIR\select-dialog<TEXT>.bmp.
//
// It works from another process, so list-view items are read and changed
// through memory allocated in the dialog's process.
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

namespace {

const wchar_t kUpdateCaption[] = L"타르보스크 프로그램 설치";
const wchar_t kSelectCaption[] = L"파일/폴더 선택창";
constexpr int kProgressId = 205;
constexpr int kListId = 203;
constexpr int kAddId = 116;

void Say(const std::wstring& text) {
    const std::wstring line = L"driver: " + text + L"\n";
    const int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, &bytes[0], n, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
}

// Saves the screen area of `window` as a 24-bit BMP.
bool SaveWindowShot(HWND window, const std::wstring& path) {
    RECT r;
    if (!GetWindowRect(window, &r)) return false;
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (dib && bits) {
        HGDIOBJ old = SelectObject(mem, dib);
        BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
        SelectObject(mem, old);
        GdiFlush();
        const DWORD stride = ((w * 3) + 3) & ~3u;
        const DWORD size = stride * h;
        BITMAPFILEHEADER fh = {};
        fh.bfType = 0x4D42;
        fh.bfOffBits = sizeof(fh) + sizeof(bi.bmiHeader);
        fh.bfSize = fh.bfOffBits + size;
        HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (f != INVALID_HANDLE_VALUE) {
            DWORD put = 0;
            ok = WriteFile(f, &fh, sizeof(fh), &put, nullptr) &&
                 WriteFile(f, &bi.bmiHeader, sizeof(bi.bmiHeader), &put, nullptr) &&
                 WriteFile(f, bits, size, &put, nullptr);
            CloseHandle(f);
        }
    }
    if (dib) DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

// Memory in another process for list-view messages.
class RemoteBuffer {
public:
    RemoteBuffer(HWND window, SIZE_T size) : size_(size) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (process_)
            address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE,
                                      PAGE_READWRITE);
    }
    ~RemoteBuffer() {
        if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
        if (process_) CloseHandle(process_);
    }
    bool ok() const { return address_ != nullptr; }
    void* address() const { return address_; }
    bool Write(const void* data, SIZE_T n, SIZE_T offset = 0) {
        return n + offset <= size_ &&
               WriteProcessMemory(process_, static_cast<char*>(address_) + offset, data, n, nullptr);
    }
    bool Read(void* data, SIZE_T n, SIZE_T offset = 0) {
        return n + offset <= size_ &&
               ReadProcessMemory(process_, static_cast<char*>(address_) + offset, data, n, nullptr);
    }

private:
    HANDLE process_ = nullptr;
    void* address_ = nullptr;
    SIZE_T size_;
};

std::wstring ItemText(HWND list, int index) {
    RemoteBuffer remote(list, sizeof(LVITEMW) + 1024 * sizeof(wchar_t));
    if (!remote.ok()) return std::wstring();
    LVITEMW item = {};
    item.iSubItem = 0;
    item.cchTextMax = 1024;
    item.pszText = reinterpret_cast<LPWSTR>(static_cast<char*>(remote.address()) + sizeof(LVITEMW));
    remote.Write(&item, sizeof(item));
    const LRESULT n = SendMessageW(list, LVM_GETITEMTEXTW, index,
                                   reinterpret_cast<LPARAM>(remote.address()));
    std::vector<wchar_t> text(1025, L'\0');
    remote.Read(text.data(), 1024 * sizeof(wchar_t), sizeof(LVITEMW));
    return std::wstring(text.data(), n > 0 && n < 1024 ? static_cast<size_t>(n) : wcslen(text.data()));
}

bool SetSelected(HWND list, int index, bool selected) {
    RemoteBuffer remote(list, sizeof(LVITEMW));
    if (!remote.ok()) return false;
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = selected ? LVIS_SELECTED : 0;
    remote.Write(&item, sizeof(item));
    return SendMessageW(list, LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(remote.address())) != 0;
}

bool WaitFor(DWORD deadline, const std::function<bool()>& done) {
    while (GetTickCount() < deadline) {
        if (done()) return true;
        Sleep(100);
    }
    return done();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring shots = L".", tag;
    std::vector<std::wstring> wanted;
    DWORD timeoutMs = 240000;
    for (int i = 1; i < argc; ++i) {
        const std::wstring a = argv[i];
        if (a == L"--shots" && i + 1 < argc) shots = argv[++i];
        else if (a == L"--tag" && i + 1 < argc) tag = argv[++i];
        else if (a == L"--select" && i + 1 < argc) wanted.push_back(argv[++i]);
        else if (a == L"--timeout" && i + 1 < argc) timeoutMs = 1000u * _wtoi(argv[++i]);
        else {
            Say(L"unknown argument " + a);
            return 2;
        }
    }
    const DWORD deadline = GetTickCount() + timeoutMs;
    bool updateShot = false, selectDone = false;
    int failures = 0;
    while (!selectDone && GetTickCount() < deadline) {
        if (!updateShot) {
            HWND dlg = FindWindowW(nullptr, kUpdateCaption);
            if (dlg && IsWindowVisible(dlg)) {
                // Wait for the bar to move, so the shot shows a download in progress.
                HWND bar = GetDlgItem(dlg, kProgressId);
                WaitFor(GetTickCount() + 15000, [&] {
                    return !IsWindow(dlg) || SendMessageW(bar, PBM_GETPOS, 0, 0) > 0;
                });
                if (IsWindow(dlg)) {
                    updateShot = SaveWindowShot(dlg, shots + L"\\update-dialog" + tag + L".bmp");
                    Say(updateShot ? L"install/update dialog captured" : L"install/update capture failed");
                }
            }
        }
        HWND sel = FindWindowW(nullptr, kSelectCaption);
        if (sel && IsWindowVisible(sel)) {
            HWND list = GetDlgItem(sel, kListId);
            // Let the first listing settle.
            WaitFor(GetTickCount() + 10000, [&] { return SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) > 0; });
            Sleep(500);
            const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
            int selected = 0;
            for (int i = 0; i < count; ++i) {
                const std::wstring text = ItemText(list, i);
                bool pick = false;
                for (const auto& w : wanted) pick = pick || text == w;
                SetSelected(list, i, pick);
                if (pick) {
                    ++selected;
                    Say(L"selected \"" + text + L"\"");
                }
            }
            if (selected != static_cast<int>(wanted.size())) {
                Say(L"not every named line was found in the listing");
                ++failures;
            }
            UpdateWindow(sel);
            Sleep(300);
            SaveWindowShot(sel, shots + L"\\select-dialog" + tag + L".bmp");
            Say(L"selection dialog captured; pressing the add button");
            // Posted in order: the close is handled once the add has run.
            PostMessageW(sel, WM_COMMAND, MAKEWPARAM(kAddId, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(sel, kAddId)));
            PostMessageW(sel, WM_COMMAND, IDCANCEL, 0);
            Say(L"selection dialog closed");
            selectDone = true;
        }
        Sleep(100);
    }
    if (!selectDone) {
        Say(L"the selection dialog never appeared");
        ++failures;
    }
    if (!updateShot) Say(L"the install/update dialog was not captured");
    return failures ? 1 : 0;
}
