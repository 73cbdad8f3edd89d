// The seam between the portable core and the operating system.
// The core includes this header only; platform/win32 implements it with real
// calls and platform/fake implements it in memory for unit tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace trv {

// Opaque handle of a top-level window (an HWND under Windows); 0 means none.
using WindowRef = std::uintptr_t;

// How long a client's window may take to handle a WM_COPYDATA.
constexpr unsigned kCopyDataTimeoutMs = 5000;

enum class AppendResult {
    Ok,
    Busy,    // someone else holds the file open without sharing
    Failed,  // any other failure: no folder, no rights, short write
};

class IPlatform {
public:
    virtual ~IPlatform() = default;

    // Shell folders. Empty when the system gives none.
    virtual std::string ProgramFilesFolder() = 0;
    // The temporary folder as the system returns it; false when there is none.
    virtual bool TempFolder(std::string& folder) = 0;

    // Top-level window by class name, no title.
    virtual WindowRef FindWindowByClass(const std::string& className) = 0;

    // Starts a program without waiting for it; false when it could not start.
    virtual bool StartProgram(const std::string& program, const std::string& parameters) = 0;

    virtual void Sleep(unsigned milliseconds) = 0;

    virtual bool FileExists(const std::string& path) = 0;
    virtual bool RemoveFile(const std::string& path) = 0;
    // Opens for writing (create if missing, no truncation, no sharing),
    // moves to the end, writes all bytes, closes.
    virtual AppendResult AppendExclusive(const std::string& path, const void* data,
                                         std::size_t size) = 0;

    // WM_COPYDATA to a window, synchronous but bounded (kCopyDataTimeoutMs).
    // false when the window is gone or did not take the message in time.
    virtual bool SendCopyData(WindowRef window, std::uintptr_t sender, std::uint32_t kind,
                              const void* data, std::uint32_t size) = 0;

    // The C runtime locale "Korean", all categories.
    virtual void SetKoreanLocale() = 0;

    // Runs the modal install/update check and returns its end code
    // (1 ready, 2 failed or closed, -1 the dialog could not be created).
    virtual int RunInstallCheck() = 0;
};

}  // namespace trv
