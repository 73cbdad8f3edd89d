// Registrar scripts: the module's path, which comes from wherever the module
// was installed, expanded into a script; and any script, read, written back
// and read again. Input: the value, '\n', the script.
#include "fuzz/fuzz.h"
#include "server/registrar.h"

namespace {

std::string Data(const trv::RegistrarValue& v) {
    return v.isNumber ? " = d '" + std::to_string(v.number) + "'" : " = s '" + trv::QuoteForScript(v.text) + "'";
}

std::string Write(const std::vector<trv::RegistrarKey>& keys) {
    std::string out;
    for (const trv::RegistrarKey& key : keys) {
        out += key.mark == trv::KeyMark::NoRemove      ? "NoRemove '"
               : key.mark == trv::KeyMark::ForceRemove ? "ForceRemove '"
                                                       : "'";
        out += trv::QuoteForScript(key.name) + "'";
        std::size_t named = 0;
        if (!key.values.empty() && key.values[0].name.empty()) out += Data(key.values[named++]);
        // Braces only where the key had them: they count towards the depth.
        if (named == key.values.size() && key.children.empty()) {
            out += "\n";
            continue;
        }
        out += " {";
        for (; named < key.values.size(); ++named)
            out += " val '" + trv::QuoteForScript(key.values[named].name) + "'" + Data(key.values[named]);
        out += "\n" + Write(key.children) + "}\n";
    }
    return out;
}

bool Same(const std::vector<trv::RegistrarKey>& a, const std::vector<trv::RegistrarKey>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].mark != b[i].mark || !Same(a[i].children, b[i].children) ||
            a[i].values.size() != b[i].values.size())
            return false;
        for (std::size_t j = 0; j < a[i].values.size(); ++j) {
            const trv::RegistrarValue &x = a[i].values[j], &y = b[i].values[j];
            if (x.name != y.name || x.isNumber != y.isNumber || x.text != y.text || x.number != y.number)
                return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> in = trv::fuzz::Lines(data, size, 2);
    const std::string& value = in[0];

    // A quoted value comes back as itself wherever a script names it; only
    // an empty key name or one with a backslash is refused.
    std::string expanded;
    std::vector<trv::RegistrarKey> keys;
    FUZZ_CHECK(trv::ExpandScript("HKCR { NoRemove CLSID { '%V%' = s '%V%' { val '%v%' = s '%%%V%' } } }",
                                 {{"V", trv::QuoteForScript(value)}}, expanded));
    const bool parsed = trv::ParseScript(expanded, keys);
    FUZZ_CHECK(parsed == (!value.empty() && value.find('\\') == std::string::npos));
    if (parsed) {
        const trv::RegistrarKey& key = keys.at(0).children.at(0);
        FUZZ_CHECK(key.name == value && key.values.at(0).text == value);
        FUZZ_CHECK(key.values.at(1).name == value && key.values.at(1).text == "%" + value);
    }

    // Any script that reads, written back, reads as the same keys.
    if (!trv::ExpandScript(in[1], {{"MODULE", "C:\\Program Files\\TARVOSK\\TRVControl.DLL"}}, expanded) ||
        !trv::ParseScript(expanded, keys))
        return 0;
    std::vector<trv::RegistrarKey> again;
    FUZZ_CHECK(trv::ParseScript("HKCR {\n" + Write(keys) + "}", again));
    FUZZ_CHECK(Same(keys, again));
    return 0;
}
