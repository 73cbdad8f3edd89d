#include "package_support.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <vector>

#include "com_support.h"
#include "support/wine_support.h"

namespace trv::packagetest {

using namespace winetest;

std::string PackageName() {
#ifdef _WIN64
    return "TRVControl-x64";
#else
    return "TRVControl";
#endif
}

std::string Packaged(const std::string& file) { return BuildDir() + "\\package\\" + file; }

std::string OlderPackaged(const std::string& file) {
    return BuildDir() + "\\test-packages\\older\\" + file;
}

DWORD RunToEnd(const std::string& commandLine, DWORD timeoutMs) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return static_cast<DWORD>(-1);
    CloseHandle(process.hThread);
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, code);
    CloseHandle(process.hProcess);
    return code;
}

std::wstring InstalledModule() {
    wchar_t programFiles[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, programFiles);
    return std::wstring(programFiles) + L"\\TARVOSK File Share Control\\TRVControl.DLL";
}

std::string FileVersion(const std::wstring& path) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0) return "";
    std::vector<char> block(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data()) ||
        !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length))
        return "";
    return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionLS));
}

comtest::Dump WithModuleShown(comtest::Dump dump, const std::wstring& modulePath) {
    for (auto& entry : dump) {
        if (CompareStringOrdinal(entry.second.c_str(), -1, modulePath.c_str(), -1, TRUE) ==
            CSTR_EQUAL)
            entry.second = L"<module>";
    }
    return dump;
}

std::wstring ModuleServingTheControl() {
    std::wstring path;
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    {
        comtest::Ptr<IDispatch> object = comtest::CreateDispatch();
        EXPECT_TRUE(object) << "the control cannot be created by its ProgID";
        DISPID id = 0;
        LPOLESTR name[] = {const_cast<LPOLESTR>(L"CheckInstall")};
        if (object &&
            object->GetIDsOfNames(IID_NULL, name, 1, LOCALE_USER_DEFAULT, &id) == S_OK &&
            id == 1) {
            wchar_t loaded[MAX_PATH] = {};
            GetModuleFileNameW(GetModuleHandleW(L"TRVControl.DLL"), loaded, MAX_PATH);
            path = loaded;
        } else {
            ADD_FAILURE() << "CheckInstall is not found by name";
        }
    }
    CoUninitialize();  // unloads the module again
    return path;
}

}  // namespace trv::packagetest
