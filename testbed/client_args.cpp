#include "testbed/client_args.h"

namespace trv::testbed {

std::string ParamsFromCommandLine(const char* commandLine) {
    if (!commandLine) return {};
    const char* p = commandLine;
    if (*p == '"') {
        ++p;
        while (*p && *p != '"') ++p;
        if (*p == '"') ++p;
    }
    // An unquoted name, or whatever sticks to the closing quote, runs to the
    // first blank.
    while (*p && *p != ' ' && *p != '\t') ++p;
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

std::vector<std::string> SplitParams(const std::string& params) {
    std::vector<std::string> values;
    if (params.empty()) return values;
    std::size_t start = 0;
    for (;;) {
        const std::size_t blank = params.find(' ', start);
        if (blank == std::string::npos) {
            values.push_back(params.substr(start));
            break;
        }
        values.push_back(params.substr(start, blank - start));
        start = blank + 1;
    }
    return values;
}

}  // namespace trv::testbed
