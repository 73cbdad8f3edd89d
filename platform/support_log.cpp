#include "platform/support_log.h"

#include "platform/registry.h"

namespace trv {

namespace {

std::atomic<SupportLog*> g_log{nullptr};
// The innermost public call in progress on this thread.
thread_local CallNote* t_open = nullptr;

// One line whatever the text holds: control bytes and anything outside
// ASCII become '?', and the length is bounded.
std::string LineOf(const std::string& stamp, const std::string& text) {
    std::string line = stamp + " " + text;
    if (line.size() > kSupportLineMax) line.resize(kSupportLineMax);
    for (char& c : line) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b > 0x7E) c = '?';
    }
    return line + "\r\n";
}

}  // namespace

void SupportLog::ReadSwitch() {
    std::uint32_t value = 0;
    CRegistry registry(m_system.Registry(), kHKeyCurrentUser);
    const bool on = registry.ReadDword(kSupportLogKey, kSupportLogValue, value) && value != 0;
    m_enabled.store(on);
}

void SupportLog::WriteLine(const std::string& text) {
    if (!Enabled()) return;
    // Lines come from every thread of the module; each goes out whole.
    std::lock_guard<std::mutex> lock(m_lock);
    std::unique_ptr<ISupportLogSystem::File> file = m_system.Open();
    if (!file) return;
    const std::string line = LineOf(m_system.Stamp(), text);
    std::uint64_t size = 0;
    if (!file->Size(size)) return;
    // Cut rather than grow: the newest lines are the ones a support call needs.
    if (size + line.size() > kSupportLogLimit && !file->Empty()) return;
    file->Append(line);
}

void SetSupportLog(SupportLog* log) { g_log.store(log); }

std::string OutcomeText(long outcome) {
    const auto code = static_cast<std::uint32_t>(outcome);
    switch (code) {
    case 0: return "S_OK";
    case 1: return "S_FALSE";
    case 0x80070005u: return "E_ACCESSDENIED";
    }
    // By hand: a printf would bring the C runtime's whole formatter into the module.
    std::string hex = "0x";
    for (int shift = 28; shift >= 0; shift -= 4) hex += "0123456789ABCDEF"[(code >> shift) & 0xF];
    return hex;
}

void NoteReason(const char* reason) {
    // Logging never fails a call.
    try {
        SupportLog* log = g_log.load();
        if (!log || !log->Enabled() || !reason) return;
        if (t_open) {
            t_open->Add(reason);
        } else {
            log->WriteLine(reason);
        }
    } catch (...) {
    }
}

void NoteReason(const char* reason, long long detail) {
    try {
        NoteReason((std::string(reason ? reason : "") + " " + std::to_string(detail)).c_str());
    } catch (...) {
    }
}

CallNote::CallNote(const char* method) : m_method(method), m_log(g_log.load()), m_outer(t_open) {
    if (m_log && !m_log->Enabled()) m_log = nullptr;
    if (m_log) t_open = this;
}

CallNote::~CallNote() {
    if (!m_log) return;
    t_open = m_outer;
    try {
        std::string text = std::string(m_method) + " " +
                           (m_done ? OutcomeText(m_outcome) : std::string("(no result)"));
        if (!m_reasons.empty()) text += ": " + m_reasons;
        m_log->WriteLine(text);
    } catch (...) {
    }
}

void CallNote::Add(const std::string& reason) {
    if (!m_reasons.empty()) m_reasons += "; ";
    m_reasons += reason;
}

}  // namespace trv
