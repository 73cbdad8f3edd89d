#include "testbed/client_log.h"

#include <windows.h>

namespace trv::testbed {

namespace {

constexpr char kMutexName[] = "trv_testbed_log_mutex";
constexpr DWORD kMutexWaitMs = 10000;

std::string EnvValue(const char* name) {
    char small[512];
    DWORD n = GetEnvironmentVariableA(name, small, sizeof small);
    if (n == 0) return {};
    if (n < sizeof small) return std::string(small, n);
    std::string big(n, '\0');
    n = GetEnvironmentVariableA(name, &big[0], static_cast<DWORD>(big.size()));
    if (n == 0 || n >= big.size()) return {};
    big.resize(n);
    return big;
}

}  // namespace

std::string AnsiToUtf8(const std::string& ansi) {
    if (ansi.empty()) return {};
    const int len = static_cast<int>(ansi.size());
    const int wide = MultiByteToWideChar(CP_ACP, 0, ansi.data(), len, nullptr, 0);
    if (wide <= 0) return {};
    std::wstring w(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), len, &w[0], wide);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, &out[0], bytes, nullptr, nullptr);
    return out;
}

std::string JsonQuote(const std::string& utf8) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (unsigned char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
    return out;
}

std::string HexBytes(const std::string& bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

void JsonLine::Key(const char* key) {
    if (!body_.empty()) body_ += ',';
    body_ += JsonQuote(key);
    body_ += ':';
}

JsonLine& JsonLine::Text(const char* key, const std::string& ansi) {
    Key(key);
    body_ += JsonQuote(AnsiToUtf8(ansi));
    Key((std::string(key) + "_hex").c_str());
    body_ += '"' + HexBytes(ansi) + '"';
    return *this;
}

JsonLine& JsonLine::TextOrNull(const char* key, const std::string* ansi) {
    if (ansi) return Text(key, *ansi);
    Key(key);
    body_ += "null";
    return *this;
}

JsonLine& JsonLine::TextArray(const char* key, const std::vector<std::string>& ansi) {
    Key(key);
    body_ += '[';
    for (std::size_t i = 0; i < ansi.size(); ++i) {
        if (i) body_ += ',';
        body_ += JsonQuote(AnsiToUtf8(ansi[i]));
    }
    body_ += ']';
    Key((std::string(key) + "_hex").c_str());
    body_ += '[';
    for (std::size_t i = 0; i < ansi.size(); ++i) {
        if (i) body_ += ',';
        body_ += '"' + HexBytes(ansi[i]) + '"';
    }
    body_ += ']';
    return *this;
}

JsonLine& JsonLine::Word(const char* key, const char* ascii) {
    Key(key);
    body_ += JsonQuote(ascii);
    return *this;
}

JsonLine& JsonLine::Number(const char* key, std::uint64_t value) {
    Key(key);
    body_ += std::to_string(value);
    return *this;
}

JsonLine& JsonLine::Bool(const char* key, bool value) {
    Key(key);
    body_ += value ? "true" : "false";
    return *this;
}

std::string JsonLine::Finish() const { return "{" + body_ + "}\n"; }

std::string LogPath() {
    std::string path = EnvValue("TRV_TESTBED_LOG");
    if (!path.empty()) return path;
    char temp[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof temp, temp);
    path = (n > 0 && n < sizeof temp) ? std::string(temp, n) : std::string(".\\");
    if (path.back() != '\\') path += '\\';
    return path + "trv_testbed.log";
}

void AppendLogLine(const std::string& line) {
    static HANDLE mutex = CreateMutexA(nullptr, FALSE, kMutexName);
    static const std::string path = LogPath();
    bool owned = false;
    if (mutex) {
        const DWORD w = WaitForSingleObject(mutex, kMutexWaitMs);
        owned = (w == WAIT_OBJECT_0 || w == WAIT_ABANDONED);
    }
    // A reader may have the file open for a moment; retry briefly rather than
    // lose the line.
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 50; ++attempt) {
        file = CreateFileA(path.c_str(), FILE_APPEND_DATA,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) break;
        Sleep(10);
    }
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(file);
    }
    if (owned) ReleaseMutex(mutex);
}

}  // namespace trv::testbed
