// Helpers shared by the Wine test programs: paths between the build tree and
// the prefix, the stand-in clients, and bounded waits.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace trv::winetest {

// "/a/b" -> "Z:\a\b"
std::string WindowsPath(const std::string& unixPath);
// The build tree (TRV_BUILD_DIR) as a Windows path, without a final backslash.
std::string BuildDir();
std::string SourceDir();
// "C:\Program Files\TARVOSK\" as the control derives it.
std::string InstallDir();
// Text in the ANSI code page from UTF-16.
std::string Ansi(const std::wstring& text);
std::wstring Wide(const std::string& ansi);

// Copies the stand-in client programs into the install folder.
bool InstallStandInClients();
bool RemoveInstalledClients();
// Posts WM_CLOSE to every stand-in window and waits (bounded) until none is left.
bool CloseAllClients(DWORD timeoutMs = 10000);

// Polls until `done` holds or the time is up; returns the last result.
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs, DWORD stepMs = 50);

bool MakeFolder(const std::string& path);  // with parents
std::string ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);

// Rewrites the stand-in update server's control file (settings: "key=value"
// lines, "" for the defaults) and waits, bounded, until the server applied it.
// Needs the CTest fixture update_server.
bool SwitchUpdateServer(const std::string& settings);

// Sets or clears (value nullptr) a variable for this process and the
// programs it starts.
void SetEnv(const char* name, const char* value);

// What the screen shows in one rectangle, as 24-bit rows from the bottom up.
struct ScreenCapture {
    int width = 0, height = 0;
    DWORD stride = 0;
    std::string pixels;
    // 0xRRGGBB at (x, y) from the rectangle's top left.
    std::uint32_t Pixel(int x, int y) const;
    // The capture as a BMP file's bytes.
    std::string Bmp() const;
};
bool CaptureScreen(const RECT& area, ScreenCapture* out);

}  // namespace trv::winetest
