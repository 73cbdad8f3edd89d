// An in-memory system for unit tests: windows that appear after a number of
// looks, files, a busy file, programs that fail to start, and a log of every
// call in order so tests can check the order of steps.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace trv {

class FakePlatform : public IPlatform {
public:
    struct Started {
        std::string program;
        std::string parameters;
    };
    struct CopyData {
        WindowRef window;
        std::uintptr_t sender;
        std::uint32_t kind;
        std::string bytes;  // including the NUL
    };
    // What a program does once started: its window shows after this many
    // further looks for its class (-1: never).
    struct ProgramBehaviour {
        std::string windowClass;
        int looksUntilWindow = 0;
        bool removesListFile = false;  // takes its list file away once written
        std::string listFile;
    };

    // Settings
    std::string programFiles = "C:\\Program Files";
    std::string tempFolder = "C:\\Temp\\";
    bool hasTempFolder = true;
    int installCheckResult = 1;
    // Runs inside the install check, as a page's handlers may while its
    // dialog pumps messages.
    std::function<void()> duringInstallCheck;
    std::map<std::string, ProgramBehaviour> programs;  // by full path
    bool startFails = false;
    int busyAppends = 0;     // appends answered Busy before they succeed
    bool appendFails = false;
    bool sendFails = false;  // the window went away before the message

    // State and record
    std::map<std::string, WindowRef> windows;        // class -> handle
    std::map<std::string, std::string> files;        // path -> bytes
    std::vector<std::string> calls;                  // ordered log
    std::vector<Started> started;
    std::vector<CopyData> sent;
    int installChecks = 0;
    int localeSets = 0;

    void ShowWindow(const std::string& windowClass);

    std::string ProgramFilesFolder() override;
    bool TempFolder(std::string& folder) override;
    WindowRef FindWindowByClass(const std::string& className) override;
    bool StartProgram(const std::string& program, const std::string& parameters) override;
    void Sleep(unsigned milliseconds) override;
    bool FileExists(const std::string& path) override;
    bool RemoveFile(const std::string& path) override;
    AppendResult AppendExclusive(const std::string& path, const void* data,
                                 std::size_t size) override;
    bool SendCopyData(WindowRef window, std::uintptr_t sender, std::uint32_t kind,
                      const void* data, std::uint32_t size) override;
    void SetKoreanLocale() override;
    int RunInstallCheck() override;

private:
    std::map<std::string, int> m_pendingWindows;  // class -> looks left
    std::map<std::string, bool> m_removers;  // list files a client takes away
    WindowRef m_nextWindow = 0x1000;
};

}  // namespace trv
