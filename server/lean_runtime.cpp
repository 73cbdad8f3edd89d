// What the module leaves out of the static C++ runtime.
//
// libstdc++'s default terminate handler prints the uncaught exception's
// demangled type name to stderr before it aborts; linking it brings in the
// demangler and the C runtime's formatter (about 60 KB). A browser's module
// has no stderr: a terminate here aborts at once, as it did after the print.
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
