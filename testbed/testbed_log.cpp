#include "testbed/testbed_log.h"

#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <optional>

namespace trv::testbed {

namespace {

constexpr int kMaxDepth = 32;

// A JSON value reduced to what the log uses: strings, unsigned integers and
// arrays of strings. Anything else parses but is kept only as "other".
struct Value {
    enum Type { kString, kNumber, kStringArray, kOther } type = kOther;
    std::string str;
    std::uint64_t num = 0;
    std::vector<std::string> strs;
};

class Parser {
public:
    explicit Parser(const std::string& s) : s_(s) {}

    bool Object(std::map<std::string, Value>* fields) {
        Space();
        return Eat('{') && Members(1, fields) && AtEnd();
    }

private:
    bool AtEnd() {
        Space();
        return pos_ == s_.size();
    }
    void Space() {
        while (pos_ < s_.size() &&
               (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\r' || s_[pos_] == '\n'))
            ++pos_;
    }
    bool Eat(char c) {
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool Word(const char* w) {
        const std::string word(w);
        if (s_.compare(pos_, word.size(), word) != 0) return false;
        pos_ += word.size();
        return true;
    }

    static int HexDigit(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    bool Hex4(unsigned* out) {
        if (s_.size() - pos_ < 4) return false;
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) {
            const int d = HexDigit(s_[pos_ + i]);
            if (d < 0) return false;
            v = v * 16 + static_cast<unsigned>(d);
        }
        pos_ += 4;
        *out = v;
        return true;
    }

    static void PutUtf8(std::string* out, unsigned cp) {
        if (cp < 0x80) {
            *out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            *out += static_cast<char>(0xC0 | (cp >> 6));
            *out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            *out += static_cast<char>(0xE0 | (cp >> 12));
            *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            *out += static_cast<char>(0xF0 | (cp >> 18));
            *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    bool String(std::string* out) {
        if (!Eat('"')) return false;
        while (pos_ < s_.size()) {
            const char c = s_[pos_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                *out += c;
                continue;
            }
            if (pos_ >= s_.size()) return false;
            const char e = s_[pos_++];
            switch (e) {
            case '"': *out += '"'; break;
            case '\\': *out += '\\'; break;
            case '/': *out += '/'; break;
            case 'b': *out += '\b'; break;
            case 'f': *out += '\f'; break;
            case 'n': *out += '\n'; break;
            case 'r': *out += '\r'; break;
            case 't': *out += '\t'; break;
            case 'u': {
                unsigned cp = 0;
                if (!Hex4(&cp)) return false;
                if (cp >= 0xD800 && cp < 0xDC00) {
                    unsigned low = 0;
                    if (!Eat('\\') || !Eat('u') || !Hex4(&low) || low < 0xDC00 || low >= 0xE000)
                        return false;
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                } else if (cp >= 0xDC00 && cp < 0xE000) {
                    return false;
                }
                PutUtf8(out, cp);
                break;
            }
            default:
                return false;
            }
        }
        return false;  // no closing quote
    }

    bool Number(Value* v) {
        const bool negative = Eat('-');
        std::uint64_t n = 0;
        bool overflow = false;
        std::size_t digits = 0;
        while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') {
            const unsigned d = static_cast<unsigned>(s_[pos_] - '0');
            if (n > (std::numeric_limits<std::uint64_t>::max() - d) / 10) overflow = true;
            n = n * 10 + d;
            ++pos_;
            ++digits;
        }
        if (digits == 0) return false;
        bool fraction = false;
        if (Eat('.')) {
            fraction = true;
            std::size_t fd = 0;
            while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_, ++fd;
            if (fd == 0) return false;
        }
        if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
            fraction = true;
            ++pos_;
            if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
            std::size_t ed = 0;
            while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_, ++ed;
            if (ed == 0) return false;
        }
        if (negative || fraction || overflow) {
            v->type = Value::kOther;  // well-formed, but not one of ours
        } else {
            v->type = Value::kNumber;
            v->num = n;
        }
        return true;
    }

    // An object's members after its "{", through its "}"; values at `depth`.
    // Kept in `fields` when given (a repeated key keeps its last value).
    bool Members(int depth, std::map<std::string, Value>* fields) {
        Space();
        if (Eat('}')) return true;
        for (;;) {
            Space();
            std::string key;
            if (!String(&key)) return false;
            Space();
            if (!Eat(':')) return false;
            Value value;
            if (!Any(&value, depth)) return false;
            if (fields) (*fields)[key] = std::move(value);
            Space();
            if (Eat(',')) continue;
            return Eat('}');
        }
    }

    bool Any(Value* v, int depth) {
        if (depth > kMaxDepth) return false;
        Space();
        if (pos_ >= s_.size()) return false;
        const char c = s_[pos_];
        if (c == '"') {
            v->type = Value::kString;
            return String(&v->str);
        }
        if (c == '{') {
            ++pos_;
            v->type = Value::kOther;
            return Members(depth + 1, nullptr);
        }
        if (c == '[') {
            ++pos_;
            v->type = Value::kStringArray;
            Space();
            if (Eat(']')) return true;
            for (;;) {
                Value inner;
                if (!Any(&inner, depth + 1)) return false;
                if (inner.type == Value::kString)
                    v->strs.push_back(std::move(inner.str));
                else
                    v->type = Value::kOther;
                Space();
                if (Eat(',')) continue;
                if (Eat(']')) {
                    if (v->type != Value::kStringArray) v->strs.clear();
                    return true;
                }
                return false;
            }
        }
        if (Word("true") || Word("false") || Word("null")) {
            v->type = Value::kOther;
            return true;
        }
        return Number(v);
    }

    const std::string& s_;
    std::size_t pos_ = 0;
};

std::optional<std::string> FromHex(const std::string& hex) {
    if (hex.size() % 2) return std::nullopt;
    std::string out;
    out.reserve(hex.size() / 2);
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int hi = digit(hex[i]), lo = digit(hex[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

using Fields = std::map<std::string, Value>;

// Text field: the "_hex" copy wins; a field of the wrong type spoils the line.
bool TakeText(const Fields& f, const std::string& key, std::string* out) {
    const auto hex = f.find(key + "_hex");
    if (hex != f.end()) {
        if (hex->second.type != Value::kString) return false;
        auto bytes = FromHex(hex->second.str);
        if (!bytes) return false;
        *out = std::move(*bytes);
        return true;
    }
    const auto plain = f.find(key);
    if (plain == f.end()) return true;
    if (plain->second.type == Value::kString) {
        *out = plain->second.str;
        return true;
    }
    // null: the program had no such value.
    return plain->second.type == Value::kOther;
}

bool TakeTexts(const Fields& f, const std::string& key, std::vector<std::string>* out) {
    const auto hex = f.find(key + "_hex");
    if (hex != f.end()) {
        if (hex->second.type != Value::kStringArray) return false;
        for (const auto& h : hex->second.strs) {
            auto bytes = FromHex(h);
            if (!bytes) return false;
            out->push_back(std::move(*bytes));
        }
        return true;
    }
    const auto plain = f.find(key);
    if (plain == f.end()) return true;
    if (plain->second.type != Value::kStringArray) return false;
    *out = plain->second.strs;
    return true;
}

template <typename T>
bool TakeNumber(const Fields& f, const char* key, T* out) {
    const auto it = f.find(key);
    if (it == f.end()) return true;
    if (it->second.type != Value::kNumber ||
        it->second.num > static_cast<std::uint64_t>(std::numeric_limits<T>::max()))
        return false;
    *out = static_cast<T>(it->second.num);
    return true;
}

std::optional<TestbedEvent> ParseLine(const std::string& line) {
    Fields f;
    Parser p(line);
    if (!p.Object(&f)) return std::nullopt;
    TestbedEvent e;
    if (!TakeText(f, "program", &e.program) || !TakeText(f, "event", &e.event) ||
        !TakeText(f, "source", &e.source) || !TakeText(f, "list_file", &e.list_file) ||
        !TakeText(f, "params", &e.params) || !TakeText(f, "text", &e.text) ||
        !TakeTexts(f, "args", &e.args) || !TakeNumber(f, "kind", &e.kind) ||
        !TakeNumber(f, "length", &e.length) || !TakeNumber(f, "wparam", &e.wparam) ||
        !TakeNumber(f, "pid", &e.pid))
        return std::nullopt;
    if (e.event.empty()) return std::nullopt;
    return e;
}

}  // namespace

std::vector<TestbedEvent> ParseTestbedLog(const std::string& text) {
    std::vector<TestbedEvent> events;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        // A last line without its newline may still be being written.
        if (end == std::string::npos) break;
        if (auto e = ParseLine(text.substr(start, end - start))) events.push_back(std::move(*e));
        start = end + 1;
    }
    return events;
}

std::vector<TestbedEvent> ReadTestbedLog(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return ParseTestbedLog(text);
}

}  // namespace trv::testbed
