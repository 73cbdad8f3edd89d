#include "packaging/msi_registry.h"

#include <cstdint>

namespace trv {
namespace msi {

namespace {

std::string Join(const std::string& parent, const std::string& name) {
    return parent.empty() ? name : parent + "\\" + name;
}

bool Plain(const std::string& text, std::string& error) {
    for (unsigned char c : text) {
        if (c < 0x20 || c > 0x7E) {
            error = "\"" + text + "\": only printable ASCII can be written";
            return false;
        }
        if (c == '[' || c == ']') {
            error = "\"" + text + "\": brackets would be read as installer properties";
            return false;
        }
    }
    return true;
}

// A registrar string as the installer's formatted Value column writes it back.
bool StringValue(const std::string& text, const std::string& moduleMark,
                 const std::string& fileKey, std::string& value, std::string& error) {
    if (text.empty()) {
        error = "an empty string value cannot be written by the installer";
        return false;
    }
    value.clear();
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t mark = moduleMark.empty() ? std::string::npos : text.find(moduleMark, pos);
        const std::string plain = text.substr(pos, mark == std::string::npos ? mark : mark - pos);
        if (!Plain(plain, error)) return false;
        value += plain;
        if (mark == std::string::npos) break;
        value += "[#" + fileKey + "]";
        pos = mark + moduleMark.size();
    }
    // A leading "#" marks a number; "##" stands for one "#" of text.
    if (value[0] == '#') value.insert(0, 1, '#');
    return true;
}

bool AddKey(const RegistrarKey& key, const std::string& parent, const std::string& moduleMark,
            const std::string& fileKey, RegistryTables& tables, std::string& error) {
    const std::string path = Join(parent, key.name);
    if (!Plain(path, error)) return false;
    switch (key.mark) {
        case KeyMark::ForceRemove:
            tables.remove.push_back({path});
            tables.registry.push_back({path, "*", ""});
            break;
        case KeyMark::NoRemove:
            if (!key.values.empty()) {
                error = path + ": a key that is never removed cannot hold values the installer removes";
                return false;
            }
            tables.registry.push_back({path, "+", ""});
            break;
        case KeyMark::Normal:
            if (key.values.empty() && key.children.empty()) {
                error = path + ": the installer cannot remove a key of no values only when empty";
                return false;
            }
            break;
    }
    for (const RegistrarValue& value : key.values) {
        if (!Plain(value.name, error)) return false;
        if (value.name == "+" || value.name == "-" || value.name == "*") {
            error = path + ": value name \"" + value.name + "\" means a key to the installer";
            return false;
        }
        std::string data;
        if (value.isNumber) {
            data = "#" + std::to_string(static_cast<std::int32_t>(value.number));
        } else if (!StringValue(value.text, moduleMark, fileKey, data, error)) {
            error = path + ": " + error;
            return false;
        }
        tables.registry.push_back({path, value.name, data});
    }
    for (const RegistrarKey& child : key.children) {
        if (!AddKey(child, path, moduleMark, fileKey, tables, error)) return false;
    }
    return true;
}

// Archive files: a header of column names, types and the table's keys, then
// one tab-separated row per line.
std::string Row(std::initializer_list<std::string> fields) {
    std::string line;
    for (const std::string& field : fields) {
        if (!line.empty()) line += '\t';
        line += field;
    }
    return line + "\r\n";
}

std::string RowId(const char* prefix, std::size_t index) {
    std::string number = std::to_string(index + 1);
    return prefix + std::string(number.size() < 3 ? 3 - number.size() : 0, '0') + number;
}

}  // namespace

bool AddScriptRows(const std::vector<RegistrarKey>& keys, const std::string& moduleMark,
                   const std::string& fileKey, RegistryTables& tables, std::string& error) {
    for (const RegistrarKey& key : keys) {
        if (!AddKey(key, std::string(), moduleMark, fileKey, tables, error)) return false;
    }
    return true;
}

void AddKeyRow(const std::string& key, RegistryTables& tables) {
    tables.registry.push_back({key, "+", ""});
}

std::string RegistryIdt(const RegistryTables& tables, const std::string& component) {
    std::string idt = Row({"Registry", "Root", "Key", "Name", "Value", "Component_"}) +
                      Row({"s72", "i2", "l255", "L255", "L0", "s72"}) + Row({"Registry", "Registry"});
    for (std::size_t i = 0; i < tables.registry.size(); ++i) {
        const RegistryRow& row = tables.registry[i];
        idt += Row({RowId("Reg", i), "0", row.key, row.name, row.value, component});
    }
    return idt;
}

std::string RemoveRegistryIdt(const RegistryTables& tables, const std::string& component) {
    std::string idt = Row({"RemoveRegistry", "Root", "Key", "Name", "Component_"}) +
                      Row({"s72", "i2", "l255", "L255", "s72"}) +
                      Row({"RemoveRegistry", "RemoveRegistry"});
    for (std::size_t i = 0; i < tables.remove.size(); ++i) {
        idt += Row({RowId("Remove", i), "0", tables.remove[i].key, "-", component});
    }
    return idt;
}

}  // namespace msi
}  // namespace trv
