// What the module leaves out of the static C++ runtime. Every visitor of the
// service's pages downloads the module, so what it never needs stays out.
#include <bits/functexcept.h>

#include <cstdlib>
#include <exception>
#include <new>

// libstdc++'s default terminate handler prints the uncaught exception's
// demangled type name to stderr before it aborts; linking it brings in the
// demangler and the C runtime's formatter (about 60 KB). A browser's module
// has no stderr: a terminate here aborts at once, as it did after the print.
namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx

// The standard library reports a misuse (a length past max_size, an index out
// of range, an empty std::function, a failed mutex) by building a
// std::logic_error or std::system_error, whose message strings link the
// library's whole prebuilt std::string and what hangs off it (about 90 KB).
// The module catches none of those types: its COM boundary catches
// std::bad_alloc and everything else alike. So the same faults are raised
// here without a message, and allocation failures stay std::bad_alloc.
namespace {

struct LibraryFault {};

}  // namespace

namespace std {

void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_alloc(); }
void __throw_length_error(const char*) { throw LibraryFault(); }
void __throw_logic_error(const char*) { throw LibraryFault(); }
void __throw_out_of_range_fmt(const char*, ...) { throw LibraryFault(); }
void __throw_bad_function_call() { throw LibraryFault(); }
void __throw_system_error(int) { throw LibraryFault(); }

}  // namespace std
