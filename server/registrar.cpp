#include "server/registrar.h"

#include <cctype>
#include <cstdlib>

namespace trv {

namespace {

bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

struct Token {
    enum Kind { Word, Quoted, Open, Close, Equals, End } kind;
    std::string text;
};

class Tokenizer {
public:
    explicit Tokenizer(const std::string& text) : m_text(text) {}

    bool Next(Token& token) {
        while (m_pos < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_pos])))
            ++m_pos;
        token.text.clear();
        if (m_pos >= m_text.size()) {
            token.kind = Token::End;
            return true;
        }
        const char c = m_text[m_pos];
        if (c == '{' || c == '}' || c == '=') {
            token.kind = c == '{' ? Token::Open : c == '}' ? Token::Close : Token::Equals;
            ++m_pos;
            return true;
        }
        if (c == '\'') {
            token.kind = Token::Quoted;
            ++m_pos;
            for (;;) {
                if (m_pos >= m_text.size()) return false;  // unclosed quote
                if (m_text[m_pos] == '\'') {
                    if (m_pos + 1 < m_text.size() && m_text[m_pos + 1] == '\'') {
                        token.text += '\'';
                        m_pos += 2;
                        continue;
                    }
                    ++m_pos;
                    return true;
                }
                token.text += m_text[m_pos++];
            }
        }
        token.kind = Token::Word;
        while (m_pos < m_text.size()) {
            const char w = m_text[m_pos];
            if (std::isspace(static_cast<unsigned char>(w)) || w == '{' || w == '}' || w == '=' ||
                w == '\'')
                break;
            token.text += w;
            ++m_pos;
        }
        return true;
    }

private:
    const std::string& m_text;
    std::size_t m_pos = 0;
};

class Parser {
public:
    explicit Parser(const std::string& text) : m_tokens(text) {}

    bool Script(std::vector<RegistrarKey>& keys) {
        if (!Advance()) return false;
        if (m_token.kind != Token::Word ||
            !(SameText(m_token.text, "HKCR") || SameText(m_token.text, "HKEY_CLASSES_ROOT")))
            return false;
        if (!Advance() || m_token.kind != Token::Open) return false;
        if (!Advance() || !Body(keys, 1)) return false;
        // Body stops on the closing brace of the root.
        return Advance() && m_token.kind == Token::End;
    }

private:
    static constexpr int kMaxDepth = 32;

    bool Advance() { return m_tokens.Next(m_token); }

    bool Data(RegistrarValue& value) {
        // After "=": a type letter and the quoted data.
        if (m_token.kind != Token::Word) return false;
        const std::string type = m_token.text;
        if (!Advance() || m_token.kind != Token::Quoted) return false;
        if (SameText(type, "s")) {
            value.text = m_token.text;
        } else if (SameText(type, "d")) {
            const std::string& digits = m_token.text;
            if (digits.empty() || digits.size() > 10) return false;
            char* end = nullptr;
            const unsigned long long n = std::strtoull(digits.c_str(), &end, 0);
            if (*end != '\0' || n > 0xFFFFFFFFull) return false;
            value.isNumber = true;
            value.number = static_cast<std::uint32_t>(n);
        } else {
            return false;
        }
        return Advance();
    }

    // Reads entries until the closing brace, which stays the current token.
    bool Body(std::vector<RegistrarKey>& keys, int depth) {
        if (depth > kMaxDepth) return false;
        return Entries(keys, nullptr, depth);
    }

    bool Entries(std::vector<RegistrarKey>& keys, std::vector<RegistrarValue>* owner, int depth) {
        for (;;) {
            if (m_token.kind == Token::Close) return true;
            if (m_token.kind == Token::End) return false;
            if (m_token.kind == Token::Word && SameText(m_token.text, "val")) {
                if (!owner) return false;  // values belong to a key
                RegistrarValue value;
                if (!Advance() || (m_token.kind != Token::Word && m_token.kind != Token::Quoted))
                    return false;
                value.name = m_token.text;
                if (value.name.empty()) return false;
                if (!Advance() || m_token.kind != Token::Equals) return false;
                if (!Advance() || !Data(value)) return false;
                owner->push_back(value);
                continue;
            }
            RegistrarKey key;
            if (m_token.kind == Token::Word && SameText(m_token.text, "NoRemove")) {
                key.mark = KeyMark::NoRemove;
                if (!Advance()) return false;
            } else if (m_token.kind == Token::Word && SameText(m_token.text, "ForceRemove")) {
                key.mark = KeyMark::ForceRemove;
                if (!Advance()) return false;
            }
            if (m_token.kind != Token::Word && m_token.kind != Token::Quoted) return false;
            key.name = m_token.text;
            if (key.name.empty() || key.name.find('\\') != std::string::npos) return false;
            if (!Advance()) return false;
            if (m_token.kind == Token::Equals) {
                RegistrarValue value;
                if (!Advance() || !Data(value)) return false;
                key.values.push_back(value);
            }
            if (m_token.kind == Token::Open) {
                if (depth + 1 > kMaxDepth) return false;
                if (!Advance() || !Entries(key.children, &key.values, depth + 1)) return false;
                if (!Advance()) return false;  // past the closing brace
            }
            keys.push_back(std::move(key));
        }
    }

    Tokenizer m_tokens;
    Token m_token{Token::End, {}};
};

std::string Join(const std::string& parent, const std::string& name) {
    return parent.empty() ? name : parent + "\\" + name;
}

long WriteValue(RegistryEditor& registry, const std::string& path, const RegistrarValue& v) {
    return v.isNumber ? registry.SetNumber(path, v.name, v.number)
                      : registry.SetString(path, v.name, v.text);
}

long Register(const RegistrarKey& key, const std::string& parent, RegistryEditor& registry) {
    const std::string path = Join(parent, key.name);
    if (key.mark == KeyMark::ForceRemove) {
        const long hr = registry.DeleteTree(path);
        if (hr != 0 && hr != RegistryEditor::kNotFound) return hr;
    }
    long hr = registry.CreateKey(path);
    if (hr != 0) return hr;
    for (const RegistrarValue& value : key.values) {
        hr = WriteValue(registry, path, value);
        if (hr != 0) return hr;
    }
    for (const RegistrarKey& child : key.children) {
        hr = Register(child, path, registry);
        if (hr != 0) return hr;
    }
    return 0;
}

long Unregister(const RegistrarKey& key, const std::string& parent, RegistryEditor& registry) {
    const std::string path = Join(parent, key.name);
    if (!registry.KeyExists(path)) return 0;  // nothing left to take away
    if (key.mark == KeyMark::ForceRemove) {
        const long hr = registry.DeleteTree(path);
        return hr == RegistryEditor::kNotFound ? 0 : hr;
    }
    // Children first, in reverse order of writing.
    for (auto it = key.children.rbegin(); it != key.children.rend(); ++it) {
        const long hr = Unregister(*it, path, registry);
        if (hr != 0) return hr;
    }
    if (key.mark == KeyMark::NoRemove) return 0;
    for (const RegistrarValue& value : key.values) {
        if (value.name.empty()) continue;  // goes with the key
        const long hr = registry.DeleteValue(path, value.name);
        if (hr != 0 && hr != RegistryEditor::kNotFound) return hr;
    }
    // A key that still holds someone else's subkeys stays.
    if (registry.HasSubkeys(path)) return 0;
    const long hr = registry.DeleteKey(path);
    return hr == RegistryEditor::kNotFound ? 0 : hr;
}

}  // namespace

std::string QuoteForScript(const std::string& text) {
    std::string quoted;
    quoted.reserve(text.size());
    for (char c : text) {
        quoted += c;
        if (c == '\'') quoted += '\'';
    }
    return quoted;
}

bool ExpandScript(const std::string& script, const Replacements& replacements,
                  std::string& expanded) {
    std::string out;
    out.reserve(script.size());
    std::size_t pos = 0;
    while (pos < script.size()) {
        const std::size_t mark = script.find('%', pos);
        if (mark == std::string::npos) {
            out.append(script, pos, std::string::npos);
            break;
        }
        out.append(script, pos, mark - pos);
        const std::size_t close = script.find('%', mark + 1);
        if (close == std::string::npos) return false;
        const std::string name = script.substr(mark + 1, close - mark - 1);
        if (name.empty()) {
            out += '%';
        } else {
            bool found = false;
            for (const auto& r : replacements) {
                if (SameText(r.first, name)) {
                    out += r.second;
                    found = true;
                    break;
                }
            }
            if (!found) return false;
        }
        pos = close + 1;
    }
    expanded.swap(out);
    return true;
}

bool ParseScript(const std::string& text, std::vector<RegistrarKey>& keys) {
    std::vector<RegistrarKey> parsed;
    Parser parser(text);
    if (!parser.Script(parsed)) return false;
    keys.swap(parsed);
    return true;
}

long ApplyScript(const std::vector<RegistrarKey>& keys, RegistryEditor& registry,
                 bool registering) {
    if (registering) {
        for (const RegistrarKey& key : keys) {
            const long hr = Register(key, std::string(), registry);
            if (hr != 0) return hr;
        }
        return 0;
    }
    for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
        const long hr = Unregister(*it, std::string(), registry);
        if (hr != 0) return hr;
    }
    return 0;
}

long RunScript(const std::string& script, const Replacements& replacements,
               RegistryEditor& registry, bool registering) {
    std::string expanded;
    std::vector<RegistrarKey> keys;
    if (!ExpandScript(script, replacements, expanded) || !ParseScript(expanded, keys))
        return kRegistrarSyntaxError;
    return ApplyScript(keys, registry, registering);
}

}  // namespace trv
