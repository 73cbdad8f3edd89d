// The stand-in clients' log: one JSON object per line, appended by several
// programs at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trv::testbed {

// Builds one log line. Text fields are written twice: as UTF-8 for people
// reading the log, and as "<key>_hex" holding the exact ANSI bytes, because
// the code page conversion is lossy for bytes that are not valid text.
class JsonLine {
public:
    JsonLine& Text(const char* key, const std::string& ansi);
    JsonLine& TextOrNull(const char* key, const std::string* ansi);
    JsonLine& TextArray(const char* key, const std::vector<std::string>& ansi);
    JsonLine& Word(const char* key, const char* ascii);  // fixed ASCII, no hex copy
    JsonLine& Number(const char* key, std::uint64_t value);
    JsonLine& Bool(const char* key, bool value);
    std::string Finish() const;

private:
    void Key(const char* key);
    std::string body_;
};

std::string AnsiToUtf8(const std::string& ansi);
std::string JsonQuote(const std::string& utf8);
std::string HexBytes(const std::string& bytes);

// TRV_TESTBED_LOG, else %TEMP%\trv_testbed.log.
std::string LogPath();

// Appends one line under a machine-wide named mutex, opening and closing the
// file each time so writers never hold it between lines.
void AppendLogLine(const std::string& line);

}  // namespace trv::testbed
