// Registrar scripts: the registry content of registration, written as nested
// keys with marks, applied in both directions by the same walk.
//
//   HKCR
//   {
//       NoRemove CLSID                          never removed
//       {
//           ForceRemove {GUID} = s 'Text'       replaced whole
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'Apartment'
//               }
//           }
//       }
//   }
//
// Names and data may be quoted with single quotes ('' stands for one quote).
// %NAME% is replaced before parsing; names match without regard to case.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace trv {

// HRESULT of a script that cannot be read (DISP_E_EXCEPTION, as ATL answers).
constexpr long kRegistrarSyntaxError = static_cast<long>(0x80020009);

enum class KeyMark { Normal, NoRemove, ForceRemove };

struct RegistrarValue {
    std::string name;  // empty: the key's default value
    bool isNumber = false;
    std::string text;
    std::uint32_t number = 0;
};

struct RegistrarKey {
    std::string name;
    KeyMark mark = KeyMark::Normal;
    std::vector<RegistrarValue> values;  // in script order, default first if given
    std::vector<RegistrarKey> children;
};

using Replacements = std::vector<std::pair<std::string, std::string>>;

// A value made safe to stand between single quotes.
std::string QuoteForScript(const std::string& text);

// Replaces every %NAME%; "%%" stands for one "%". false for an unknown name
// or an unclosed mark.
bool ExpandScript(const std::string& script, const Replacements& replacements,
                  std::string& expanded);

// Parses an expanded script whose single root is HKCR (or HKEY_CLASSES_ROOT).
bool ParseScript(const std::string& text, std::vector<RegistrarKey>& keys);

// The registry below the root, keys named by backslash-joined paths. Results
// are HRESULTs; a missing key or value is reported as kNotFound.
class RegistryEditor {
public:
    static constexpr long kNotFound = static_cast<long>(0x80070002);

    virtual ~RegistryEditor() = default;
    virtual long CreateKey(const std::string& path) = 0;
    virtual long SetString(const std::string& path, const std::string& name,
                           const std::string& text) = 0;
    virtual long SetNumber(const std::string& path, const std::string& name,
                           std::uint32_t number) = 0;
    virtual long DeleteValue(const std::string& path, const std::string& name) = 0;
    // The key with everything below it.
    virtual long DeleteTree(const std::string& path) = 0;
    // The key alone; fails while it has subkeys.
    virtual long DeleteKey(const std::string& path) = 0;
    virtual bool KeyExists(const std::string& path) = 0;
    virtual bool HasSubkeys(const std::string& path) = 0;
};

// Writes (registering) or removes the keys by their marks. Returns 0 or the
// first failure; what was done before a failure stays done.
long ApplyScript(const std::vector<RegistrarKey>& keys, RegistryEditor& registry,
                 bool registering);

// Expands, parses and applies in one step.
long RunScript(const std::string& script, const Replacements& replacements,
               RegistryEditor& registry, bool registering);

}  // namespace trv
