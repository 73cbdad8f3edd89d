// What packaging reads from the built files themselves, so that nothing it
// writes is typed a second time: the module's version record and the type
// library's identity; and any resource, for the package checks.
#pragma once

#include <string>
#include <vector>

namespace trv {
namespace pack {

// The fixed part of a version record (VS_FIXEDFILEINFO) in a module's bytes,
// as "a.b.c.d". false when there is none, when there are several, or when the
// file and product versions differ.
bool ModuleVersion(const std::string& module, std::string& version, std::string& error);

// The bytes of a PE file's resource of the given numeric type and ID (its
// first language). false when the file has no such resource.
bool ModuleResource(const std::string& module, unsigned type, unsigned id, std::string& data,
                    std::string& error);

struct TypeLibraryFacts {
    std::string libid;  // braced, upper case, as StringFromGUID2 writes it
    unsigned lcid = 0;
    unsigned major = 0;
    unsigned minor = 0;
    unsigned syskind = 0;                // 1 Win32, 3 Win64
    std::vector<std::string> coclasses;  // braced class GUIDs
};

// Reads a type library file in the "MSFT" format that widl and MIDL write.
bool ReadTypeLibrary(const std::string& bytes, TypeLibraryFacts& facts, std::string& error);

}  // namespace pack
}  // namespace trv
