// Command-line handling of the stand-in client programs.
#pragma once

#include <string>
#include <vector>

namespace trv::testbed {

// What follows the program name in a full command line (as GetCommandLineA
// returns it). The name may be quoted; blanks between it and the parameters
// are not part of the parameters.
std::string ParamsFromCommandLine(const char* commandLine);

// Splits on every single blank: the launcher never quotes and separates values
// with exactly one blank, so two blanks in a row give an empty value. An empty
// text gives no values.
std::vector<std::string> SplitParams(const std::string& params);

}  // namespace trv::testbed
