#include "wine_support.h"

#include <shlobj.h>

#include <cstdlib>
#include <vector>

namespace trv::winetest {

std::string WindowsPath(const std::string& unixPath) {
    std::string out = "Z:";
    for (char c : unixPath) out += c == '/' ? '\\' : c;
    return out;
}

static std::string EnvPath(const char* name) {
    const char* v = std::getenv(name);
    if (!v || !*v) return std::string();
    std::string p = v;
    // Wine passes Unix paths through unchanged.
    return p[0] == '/' ? WindowsPath(p) : p;
}

std::string BuildDir() { return EnvPath("TRV_BUILD_DIR"); }
std::string SourceDir() { return EnvPath("TRV_SOURCE_DIR"); }

std::string InstallDir() {
    char buffer[MAX_PATH] = {};
    SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_PROGRAM_FILES, FALSE);
    std::string folder = buffer[0] ? buffer : "C:\\Program Files";
    return folder + "\\TARVOSK\\";
}

std::string Ansi(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], n,
                        nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& ansi) {
    if (ansi.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()),
                                      nullptr, 0);
    std::wstring out(n, L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &out[0], n);
    return out;
}

static const char* const kClients[] = {"TARVOSKUp.exe", "TARVOSKDown.exe", "Explorer.exe"};
static const char* const kClasses[] = {"tarvosk_class_upload", "tarvosk_class_down",
                                       "tarvosk_class_explorer"};

bool InstallStandInClients() {
    const std::string dir = InstallDir();
    if (!MakeFolder(dir)) return false;
    for (const char* name : kClients) {
        const std::string from = BuildDir() + "\\testbed\\" + name;
        if (!CopyFileA(from.c_str(), (dir + name).c_str(), FALSE)) return false;
    }
    return true;
}

bool RemoveInstalledClients() {
    bool ok = true;
    for (const char* name : kClients) {
        const std::string path = InstallDir() + name;
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
            ok = DeleteFileA(path.c_str()) && ok;
    }
    return ok;
}

bool CloseAllClients(DWORD timeoutMs) {
    return WaitUntil(
        [] {
            bool any = false;
            for (const char* cls : kClasses) {
                if (HWND w = FindWindowA(cls, nullptr)) {
                    PostMessageA(w, WM_CLOSE, 0, 0);
                    any = true;
                }
            }
            return !any;
        },
        timeoutMs, 100);
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs, DWORD stepMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (done()) return true;
        if (GetTickCount() - start >= timeoutMs) return done();
        Sleep(stepMs);
    }
}

bool MakeFolder(const std::string& path) {
    std::string partial;
    for (std::size_t i = 0; i < path.size(); ++i) {
        partial += path[i];
        if ((path[i] == '\\' || i + 1 == path.size()) && partial.size() > 3)
            CreateDirectoryA(partial.c_str(), nullptr);
    }
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadFileBytes(const std::string& path) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return std::string();
    std::string out;
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got) out.append(buf, got);
    CloseHandle(f);
    return out;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    const bool ok = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
                    put == bytes.size();
    return CloseHandle(f) && ok;
}

void SetEnv(const char* name, const char* value) {
    SetEnvironmentVariableA(name, value);
    // Keep the C runtime's copy in step for getenv().
    _putenv_s(name, value ? value : "");
}

static BITMAPINFOHEADER Header24(int width, int height) {
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    return info;
}

bool CaptureScreen(const RECT& area, ScreenCapture* out) {
    const int width = area.right - area.left, height = area.bottom - area.top;
    if (width <= 0 || height <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP canvas = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, canvas);
    BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFOHEADER info = Header24(width, height);
    out->width = width;
    out->height = height;
    out->stride = ((width * 3u) + 3u) & ~3u;
    out->pixels.assign(out->stride * height, '\0');
    const int rows = GetDIBits(memory, canvas, 0, height, &out->pixels[0],
                               reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteObject(canvas);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return rows == height;
}

std::uint32_t ScreenCapture::Pixel(int x, int y) const {
    const auto* p = reinterpret_cast<const unsigned char*>(pixels.data()) +
                    static_cast<std::size_t>(height - 1 - y) * stride + x * 3;
    return p[0] | p[1] << 8 | p[2] << 16;
}

std::string ScreenCapture::Bmp() const {
    const BITMAPINFOHEADER info = Header24(width, height);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&info), sizeof info);
    return bytes + pixels;
}

bool SwitchUpdateServer(const std::string& settings) {
    static int generation = 0;
    const std::string dir = BuildDir() + "\\update-server\\";
    const std::string gen =
        "w" + std::to_string(GetCurrentProcessId()) + "." + std::to_string(++generation);
    if (!WriteFileBytes(dir + "control", "gen=" + gen + "\n" + settings)) return false;
    return WaitUntil([&] { return ReadFileBytes(dir + "applied") == gen; }, 5000);
}

}  // namespace trv::winetest
