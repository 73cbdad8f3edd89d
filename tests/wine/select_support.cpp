#include "select_support.h"

#include <thread>

#include "select/select_ids.h"

namespace trv::selecttest {

HRESULT RecordingSink::Report(BSTR strPath, BSTR strSize, BSTR strMode) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_triples.push_back({std::wstring(strPath, SysStringLen(strPath)),
                         std::wstring(strSize, SysStringLen(strSize)),
                         std::wstring(strMode, SysStringLen(strMode))});
    if (dialog && IsWindowEnabled(GetDlgItem(dialog, IDC_ADD_SELECTED))) ++reportsWhileEnabled;
    return S_OK;
}

std::vector<Triple> RecordingSink::Take() {
    std::lock_guard<std::mutex> lock(m_lock);
    std::vector<Triple> taken;
    taken.swap(m_triples);
    return taken;
}

std::size_t RecordingSink::Count() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_triples.size();
}

bool MakeFolder(const std::wstring& path, DWORD attributes) {
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    return !attributes || SetFileAttributesW(path.c_str(), attributes | FILE_ATTRIBUTE_DIRECTORY);
}

bool MakeFile(const std::wstring& path, std::size_t size, DWORD attributes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const std::string bytes(size, 'x');
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(size), &written, nullptr);
    CloseHandle(file);
    if (!ok || written != size) return false;
    return !attributes || SetFileAttributesW(path.c_str(), attributes);
}

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(path.c_str());
}

namespace {

bool SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

}  // namespace

bool SetRemembered(const std::wstring& drive, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\TARVOSK", 0, nullptr, 0, KEY_WRITE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    const bool ok = SetString(key, L"strWebDrive", drive) && SetString(key, L"strWebPath", path);
    RegCloseKey(key);
    return ok;
}

std::wstring ReadRemembered(const wchar_t* name) {
    wchar_t buffer[MAX_PATH * 2] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    DWORD type = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\TARVOSK", name, RRF_RT_ANY, &type, buffer,
                     &size) != ERROR_SUCCESS || type != REG_SZ)
        return L"<none>";
    return buffer;
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(20);
    }
    return true;
}

INT_PTR RunDialog(SelectionSink* sink, const std::function<void(HWND)>& script) {
    return DriveDialog(
        [sink] {
            UploadSelect dialog(sink);
            return dialog.DoModal(nullptr);
        },
        dynamic_cast<RecordingSink*>(sink), script);
}

INT_PTR DriveDialog(const std::function<INT_PTR()>& open, RecordingSink* recording,
                    const std::function<void(HWND)>& script) {
    std::thread driver([&] {
        HWND dialog = nullptr;
        // The dialog belongs to this process's main thread; look for it there only.
        const DWORD owner = GetCurrentProcessId();
        WaitUntil(
            [&] {
                dialog = FindWindowW(L"#32770", L"파일/폴더 선택창");
                DWORD process = 0;
                if (dialog) GetWindowThreadProcessId(dialog, &process);
                return dialog && process == owner && IsWindowVisible(dialog);
            },
            10000);
        if (!dialog) return;
        if (recording) recording->dialog = dialog;
        script(dialog);
        if (IsWindow(dialog)) PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
    const INT_PTR result = open();
    driver.join();
    if (recording) recording->dialog = nullptr;
    return result;
}

std::vector<std::wstring> Column(HWND list, int column) {
    std::vector<std::wstring> texts;
    const int count = ItemCount(list);
    for (int i = 0; i < count; ++i) {
        wchar_t buffer[MAX_PATH] = {};
        LVITEMW item = {};
        item.iSubItem = column;
        item.pszText = buffer;
        item.cchTextMax = MAX_PATH;
        SendMessageW(list, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
        texts.push_back(buffer);
    }
    return texts;
}

int ItemCount(HWND list) { return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }

int SelectedCount(HWND list) {
    return static_cast<int>(SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0));
}

void Select(HWND list, const std::vector<int>& lines) {
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED;
    item.state = 0;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
    for (int line : lines) {
        item.state = LVIS_SELECTED;
        SendMessageW(list, LVM_SETITEMSTATE, line, reinterpret_cast<LPARAM>(&item));
    }
}

int LineOf(HWND list, const std::wstring& name) {
    const auto names = Column(list, 0);
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == name) return static_cast<int>(i);
    return -1;
}

std::wstring Text(HWND window) {
    wchar_t buffer[1024] = {};
    SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

void PressAdd(HWND dialog) { SendMessageW(GetDlgItem(dialog, IDC_ADD_SELECTED), BM_CLICK, 0, 0); }

void DoubleClick(HWND dialog, int line) {
    NMITEMACTIVATE activate = {};
    activate.hdr.hwndFrom = GetDlgItem(dialog, IDC_FILES);
    activate.hdr.idFrom = IDC_FILES;
    activate.hdr.code = NM_DBLCLK;
    activate.iItem = line;
    SendMessageW(dialog, WM_NOTIFY, IDC_FILES, reinterpret_cast<LPARAM>(&activate));
}

}  // namespace trv::selecttest
