// The support log: why a call did not do its work. From script S_OK and
// S_FALSE look the same, so a page author or support engineer reads the reason
// here. Off unless the per-user value HKCU\Software\TARVOSK "SupportLog"
// (REG_DWORD, not 0) is set when an object is created; then every public call
// leaves one line in "TRVControl.log" in the temporary folder. Lines carry
// fixed texts and numbers only, never a caller's data, so no password (nor any
// other argument) can reach the file.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/registry_platform.h"

namespace trv {

constexpr char kSupportLogKey[] = "Software\\TARVOSK";
constexpr char kSupportLogValue[] = "SupportLog";
constexpr char kSupportLogName[] = "TRVControl.log";
// The file is emptied before a line would take it past this size.
constexpr std::uint64_t kSupportLogLimit = 256 * 1024;
// Longer lines are cut here.
constexpr std::size_t kSupportLineMax = 400;

// What the log needs of the system.
class ISupportLogSystem {
public:
    // The open log file. Emptying it may put a new file in its place.
    class File {
    public:
        virtual ~File() = default;
        virtual bool Size(std::uint64_t& size) = 0;
        virtual bool Empty() = 0;
        virtual bool Append(const std::string& bytes) = 0;
    };

    virtual ~ISupportLogSystem() = default;
    virtual IRegistryApi& Registry() = 0;
    // The line's first field: local time, process and thread.
    virtual std::string Stamp() = 0;
    // The log in the temporary folder, created when missing; nullptr when it
    // cannot be opened.
    virtual std::unique_ptr<File> Open() = 0;
};

class SupportLog {
public:
    explicit SupportLog(ISupportLogSystem& system) : m_system(system) {}
    SupportLog(const SupportLog&) = delete;
    SupportLog& operator=(const SupportLog&) = delete;

    // Reads the per-user switch. Reading it once per object keeps the calls
    // themselves free of registry reads.
    void ReadSwitch();
    bool Enabled() const { return m_enabled.load(); }

    // "<stamp> <text>" as one line; nothing when the log is off.
    void WriteLine(const std::string& text);

private:
    ISupportLogSystem& m_system;
    std::atomic<bool> m_enabled{false};
    std::mutex m_lock;
};

// The module's log; until one is set nothing is noted.
void SetSupportLog(SupportLog* log);

// "S_OK", "S_FALSE", "E_ACCESSDENIED" or the code in hex.
std::string OutcomeText(long outcome);

// Why the public call in progress on this thread did not do (all of) its
// work. reason is fixed text; detail a number such as an end code. With no
// call in progress (a worker thread) the reason gets a line of its own.
void NoteReason(const char* reason);
void NoteReason(const char* reason, long long detail);

// Brackets one public call: on leaving, one line with the method, the outcome
// given to Done and the reasons noted meanwhile on this thread.
class CallNote {
public:
    explicit CallNote(const char* method);
    ~CallNote();
    CallNote(const CallNote&) = delete;
    CallNote& operator=(const CallNote&) = delete;

    long Done(long outcome) {
        m_outcome = outcome;
        m_done = true;
        return outcome;
    }
    void Add(const std::string& reason);

private:
    const char* m_method;
    SupportLog* m_log;
    CallNote* m_outer;
    long m_outcome = 0;
    bool m_done = false;
    std::string m_reasons;
};

}  // namespace trv
