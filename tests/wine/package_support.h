// Helpers of the package tests: the packages this tree built, programs run to
// their end, and the module as the packages install it.
#pragma once

#include <windows.h>

#include <string>

#include "registry_dump.h"

namespace trv::packagetest {

// "TRVControl" for the i686 packages, "TRVControl-x64" for the x86_64 ones.
std::string PackageName();
// <build>\package\<file> (and the older version's, <build>\test-packages\older\<file>).
std::string Packaged(const std::string& file);
std::string OlderPackaged(const std::string& file);

// Runs a command line to its end; its exit code, or -1 when it could not
// start or did not end within the time (then it is ended).
DWORD RunToEnd(const std::string& commandLine, DWORD timeoutMs = 120000);

// "<Program Files>\TARVOSK File Share Control\TRVControl.DLL", where both
// packages install the module for this architecture.
std::wstring InstalledModule();
// The version record's "a.b.c.d", empty when there is none.
std::string FileVersion(const std::wstring& path);

// The registration dump with the module's path (any case) shown as "<module>".
comtest::Dump WithModuleShown(comtest::Dump dump, const std::wstring& modulePath);

// Creates the control by ProgID and asks it for CheckInstall by name, which
// needs the registered type library; the path of the module that served it.
// Empty, with a failure recorded, when any step fails.
std::wstring ModuleServingTheControl();

}  // namespace trv::packagetest
