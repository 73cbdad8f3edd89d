// The registration an MSI writes, made from the same registrar scripts the
// module registers with: each key and value of a script becomes rows of the
// MSI's Registry and RemoveRegistry tables that write what registering writes
// and remove what unregistering removes.
//
//   replaced whole (ForceRemove)  removed on install, then written; removed
//                                 with everything below it on uninstall
//   never removed (NoRemove)      created when missing, never removed
//   other keys                    their values written and removed; the
//                                 installer drops a key once it is empty
#pragma once

#include <string>
#include <vector>

#include "server/registrar.h"

namespace trv {
namespace msi {

// Registry table: Name "" with Value "" is the key alone, Name "+" creates it,
// "*" also removes it whole on uninstall. Empty text stands for a null field.
struct RegistryRow {
    std::string key;
    std::string name;
    std::string value;
};

// RemoveRegistry table, Name "-": the key with everything below it, on install.
struct RemoveRow {
    std::string key;
};

struct RegistryTables {
    std::vector<RegistryRow> registry;
    std::vector<RemoveRow> remove;
};

// Adds the rows for parsed (expanded) script keys below HKEY_CLASSES_ROOT.
// Occurrences of moduleMark in the data stand for the installed module and
// become the installer's "[#fileKey]". false, with a reason, for what an MSI
// cannot write as the registrar does: an empty string (the installer stores
// none), text with "[" or "]" (formatted text), a value under a key that is
// never removed, a plain key with neither values nor subkeys, non-ASCII text
// (the tables carry no code page).
bool AddScriptRows(const std::vector<RegistrarKey>& keys, const std::string& moduleMark,
                   const std::string& fileKey, RegistryTables& tables, std::string& error);

// A key created on install and taken away with its parent (component
// categories below the class key).
void AddKeyRow(const std::string& key, RegistryTables& tables);

// The tables as MSI archive files (.idt), rows keyed by component, Root 0
// (HKEY_CLASSES_ROOT).
std::string RegistryIdt(const RegistryTables& tables, const std::string& component);
std::string RemoveRegistryIdt(const RegistryTables& tables, const std::string& component);

}  // namespace msi
}  // namespace trv
