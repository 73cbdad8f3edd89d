// package_tool: build-time helper of packaging/make-package, run on the build
// machine. It reads the built module, the type library and the registrar
// scripts, so the packages carry the module's own version and registration.
//
//   package_tool version MODULE
//       prints the version record's version, a.b.c.d
//   package_tool class TLB
//       prints the GUID of the type library's one class
//   package_tool resource FILE TYPE ID
//       writes the bytes of a PE file's resource (numeric type and ID)
//   package_tool msi-tables OUTDIR --tlb FILE --appid TEXT --component ID
//                --file KEY --feature ID [--implemented CATID]... SCRIPT...
//       writes Registry.idt, RemoveRegistry.idt and TypeLib.idt: the
//       scripts in registration order, the class's implemented categories
//       and the type library
#include <cctype>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "packaging/build_facts.h"
#include "packaging/msi_registry.h"
#include "server/registrar.h"

namespace {

using namespace trv;

// Stands for the module's path while the scripts are expanded.
const char kModuleMark[] = "\x01module\x01";

bool ReadFile(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    bytes = all.str();
    return true;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    return static_cast<bool>(out.flush());
}

bool SameText(std::string a, std::string b) {
    for (char& c : a) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (char& c : b) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return a == b;
}

// Every "TypeLib" key of the scripts must name the library being packaged.
bool NamesLibrary(const std::vector<RegistrarKey>& keys, const std::string& libid,
                  std::string& error) {
    for (const RegistrarKey& key : keys) {
        if (SameText(key.name, "TypeLib")) {
            for (const RegistrarValue& value : key.values) {
                if (value.name.empty() && !SameText(value.text, libid)) {
                    error = "a script names type library " + value.text + ", the library is " + libid;
                    return false;
                }
            }
        }
        if (!NamesLibrary(key.children, libid, error)) return false;
    }
    return true;
}

int Fail(const std::string& message) {
    std::cerr << "package_tool: " << message << "\n";
    return 1;
}

int Version(const std::string& modulePath) {
    std::string module, version, error;
    if (!ReadFile(modulePath, module)) return Fail("cannot read " + modulePath);
    if (!pack::ModuleVersion(module, version, error)) return Fail(modulePath + ": " + error);
    std::cout << version << "\n";
    return 0;
}

int Resource(const std::string& path, const std::string& type, const std::string& id) {
    std::string file, data, error;
    if (!ReadFile(path, file)) return Fail("cannot read " + path);
    const auto number = [](const std::string& text) {
        return text.find_first_not_of("0123456789") == std::string::npos && text.size() < 6
                   ? static_cast<unsigned>(std::stoul("0" + text))
                   : 0u;
    };
    if (!number(type) || !number(id)) return Fail("resource: numeric TYPE and ID");
    if (!pack::ModuleResource(file, number(type), number(id), data, error))
        return Fail(path + ": " + error);
    std::cout << data;
    return std::cout.flush() ? 0 : 1;
}

bool ReadLibrary(const std::string& path, pack::TypeLibraryFacts& library, std::string& error) {
    std::string tlb;
    if (!ReadFile(path, tlb)) {
        error = "cannot read " + path;
        return false;
    }
    if (!pack::ReadTypeLibrary(tlb, library, error)) {
        error = path + ": " + error;
        return false;
    }
    if (library.coclasses.size() != 1) {
        error = path + ": expected one class";
        return false;
    }
    return true;
}

int Class(const std::string& tlbPath) {
    pack::TypeLibraryFacts library;
    std::string error;
    if (!ReadLibrary(tlbPath, library, error)) return Fail(error);
    std::cout << library.coclasses[0] << "\n";
    return 0;
}

int MsiTables(const std::vector<std::string>& args) {
    if (args.empty()) return Fail("msi-tables: no output folder");
    const std::string out = args[0];
    std::string tlbPath, appId, component, fileKey, feature;
    std::vector<std::string> categories, scripts;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--tlb" && hasValue) tlbPath = args[++i];
        else if (arg == "--appid" && hasValue) appId = args[++i];
        else if (arg == "--component" && hasValue) component = args[++i];
        else if (arg == "--file" && hasValue) fileKey = args[++i];
        else if (arg == "--feature" && hasValue) feature = args[++i];
        else if (arg == "--implemented" && hasValue) categories.push_back(args[++i]);
        else if (arg.rfind("--", 0) == 0) return Fail("msi-tables: unknown or incomplete " + arg);
        else scripts.push_back(arg);
    }
    if (tlbPath.empty() || appId.empty() || component.empty() || fileKey.empty() ||
        feature.empty() || scripts.empty())
        return Fail("msi-tables: needs --tlb, --appid, --component, --file, --feature and scripts");

    std::string error;
    pack::TypeLibraryFacts library;
    if (!ReadLibrary(tlbPath, library, error)) return Fail(error);

    const Replacements replacements = {
        {"APPID", appId}, {"Module", kModuleMark}, {"Module_Raw", kModuleMark}};
    msi::RegistryTables tables;
    for (const std::string& path : scripts) {
        std::string script, expanded;
        std::vector<RegistrarKey> keys;
        if (!ReadFile(path, script)) return Fail("cannot read " + path);
        if (!ExpandScript(script, replacements, expanded) || !ParseScript(expanded, keys))
            return Fail(path + ": not a registrar script");
        if (!NamesLibrary(keys, library.libid, error)) return Fail(path + ": " + error);
        if (!msi::AddScriptRows(keys, kModuleMark, fileKey, tables, error))
            return Fail(path + ": " + error);
    }
    for (const std::string& category : categories) {
        msi::AddKeyRow("CLSID\\" + library.coclasses[0] + "\\Implemented Categories\\" + category,
                       tables);
    }

    // The library itself the installer registers from the installed module,
    // as the module's registration does.
    const std::string typeLibIdt =
        "LibID\tLanguage\tComponent_\tVersion\tDescription\tDirectory_\tFeature_\tCost\r\n"
        "s38\ti2\ts72\tI4\tL128\tS72\ts38\tI4\r\n"
        "TypeLib\tLibID\tLanguage\tComponent_\r\n" +
        library.libid + "\t" + std::to_string(library.lcid) + "\t" + component + "\t" +
        std::to_string(library.major * 256 + library.minor) + "\t\t\t" + feature + "\t\r\n";

    if (!WriteFile(out + "/Registry.idt", msi::RegistryIdt(tables, component)) ||
        !WriteFile(out + "/RemoveRegistry.idt", msi::RemoveRegistryIdt(tables, component)) ||
        !WriteFile(out + "/TypeLib.idt", typeLibIdt))
        return Fail("cannot write the tables into " + out);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "version") return Version(args[1]);
    if (args.size() == 2 && args[0] == "class") return Class(args[1]);
    if (args.size() == 4 && args[0] == "resource") return Resource(args[1], args[2], args[3]);
    if (!args.empty() && args[0] == "msi-tables")
        return MsiTables(std::vector<std::string>(args.begin() + 1, args.end()));
    return Fail(
        "usage: package_tool version MODULE | class TLB | resource FILE TYPE ID | msi-tables OUTDIR ...");
}
