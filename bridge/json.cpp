#include "bridge/json.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace trv::bridge {
namespace {

// The length of the UTF-8 sequence at `p` (at most `left` bytes), or 0.
std::size_t Utf8Length(const unsigned char* p, std::size_t left) {
    const unsigned char c = p[0];
    if (c < 0x80) return 1;
    std::size_t n = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) n = 2;
    else if (c == 0xE0) n = 3, lo = 0xA0;
    else if (c == 0xED) n = 3, hi = 0x9F;  // no surrogates
    else if (c >= 0xE1 && c <= 0xEF) n = 3;
    else if (c == 0xF0) n = 4, lo = 0x90;
    else if (c >= 0xF1 && c <= 0xF3) n = 4;
    else if (c == 0xF4) n = 4, hi = 0x8F;  // up to U+10FFFF
    else return 0;
    if (left < n || p[1] < lo || p[1] > hi) return 0;
    for (std::size_t i = 2; i < n; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF) return 0;
    return n;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

class Parser {
public:
    explicit Parser(const std::string& text) : s_(text) {}

    bool Document(Value& out) {
        if (!IsUtf8(s_)) return Fail("not UTF-8");
        Space();
        if (!Parse(out, 0)) return false;
        Space();
        return pos_ == s_.size() || Fail("text after the value");
    }
    const std::string& Error() const { return error_; }

private:
    bool Fail(const char* why) {
        if (error_.empty()) error_ = why;
        return false;
    }
    bool AtEnd() const { return pos_ >= s_.size(); }
    char Peek() const { return AtEnd() ? '\0' : s_[pos_]; }
    void Space() {
        while (!AtEnd() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' ||
                            s_[pos_] == '\r'))
            ++pos_;
    }
    bool Literal(const char* word) {
        const std::size_t n = std::strlen(word);
        if (s_.compare(pos_, n, word) != 0) return Fail("unexpected character");
        pos_ += n;
        return true;
    }

    bool Parse(Value& v, int depth) {
        if (depth >= kMaxDepth) return Fail("nested too deeply");
        switch (Peek()) {
        case '{': return Object(v, depth);
        case '[': return Array(v, depth);
        case '"': v.kind = Value::Kind::String; return String(v.text);
        case 't': v.kind = Value::Kind::Bool; v.boolean = true; return Literal("true");
        case 'f': v.kind = Value::Kind::Bool; v.boolean = false; return Literal("false");
        case 'n': v.kind = Value::Kind::Null; return Literal("null");
        default: return Number(v);
        }
    }

    bool Object(Value& v, int depth) {
        v.kind = Value::Kind::Object;
        ++pos_;
        Space();
        if (Peek() == '}') return ++pos_, true;
        for (;;) {
            Space();
            std::string name;
            if (Peek() != '"') return Fail("expected a member name");
            if (!String(name)) return false;
            for (const auto& m : v.members)
                if (m.first == name) return Fail("member named twice");
            Space();
            if (Peek() != ':') return Fail("expected ':'");
            ++pos_;
            Space();
            v.members.emplace_back(std::move(name), Value());
            if (!Parse(v.members.back().second, depth + 1)) return false;
            Space();
            if (Peek() == '}') return ++pos_, true;
            if (Peek() != ',') return Fail("expected ',' or '}'");
            ++pos_;
        }
    }

    bool Array(Value& v, int depth) {
        v.kind = Value::Kind::Array;
        ++pos_;
        Space();
        if (Peek() == ']') return ++pos_, true;
        for (;;) {
            Space();
            v.items.emplace_back();
            if (!Parse(v.items.back(), depth + 1)) return false;
            Space();
            if (Peek() == ']') return ++pos_, true;
            if (Peek() != ',') return Fail("expected ',' or ']'");
            ++pos_;
        }
    }

    bool Hex4(std::uint32_t& unit) {
        if (s_.size() - pos_ < 4) return Fail("short \\u escape");
        unit = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = s_[pos_++];
            unit <<= 4;
            if (c >= '0' && c <= '9') unit |= static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f') unit |= static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') unit |= static_cast<std::uint32_t>(c - 'A' + 10);
            else return Fail("bad \\u escape");
        }
        return true;
    }

    bool String(std::string& out) {
        ++pos_;  // the opening quote
        for (;;) {
            if (AtEnd()) return Fail("unterminated string");
            const unsigned char c = static_cast<unsigned char>(s_[pos_++]);
            if (c == '"') return true;
            if (c < 0x20) return Fail("control character in a string");
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (AtEnd()) return Fail("unterminated string");
            switch (s_[pos_++]) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                std::uint32_t unit = 0;
                if (!Hex4(unit)) return false;
                if (unit >= 0xDC00 && unit <= 0xDFFF) return Fail("lone low surrogate");
                if (unit >= 0xD800 && unit <= 0xDBFF) {
                    std::uint32_t low = 0;
                    if (s_.compare(pos_, 2, "\\u") != 0) return Fail("lone high surrogate");
                    pos_ += 2;
                    if (!Hex4(low)) return false;
                    if (low < 0xDC00 || low > 0xDFFF) return Fail("lone high surrogate");
                    unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                }
                AppendUtf8(out, unit);
                break;
            }
            default: return Fail("bad escape");
            }
        }
    }

    bool Digits() {
        const std::size_t start = pos_;
        while (Peek() >= '0' && Peek() <= '9') ++pos_;
        return pos_ > start;
    }

    bool Number(Value& v) {
        const std::size_t start = pos_;
        if (Peek() == '-') ++pos_;
        if (Peek() == '0') {
            ++pos_;
        } else if (!Digits()) {
            return Fail("unexpected character");
        }
        if (Peek() == '.') {
            ++pos_;
            if (!Digits()) return Fail("bad number");
        }
        if (Peek() == 'e' || Peek() == 'E') {
            ++pos_;
            if (Peek() == '+' || Peek() == '-') ++pos_;
            if (!Digits()) return Fail("bad number");
        }
        // The grammar is checked; strtod reads the same characters (the
        // program keeps the "C" locale, so '.' is the decimal point).
        const std::string digits = s_.substr(start, pos_ - start);
        v.kind = Value::Kind::Number;
        v.number = std::strtod(digits.c_str(), nullptr);
        return std::isfinite(v.number) || Fail("number out of range");
    }

    const std::string& s_;
    std::size_t pos_ = 0;
    std::string error_;
};

}  // namespace

bool IsUtf8(const std::string& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t n = Utf8Length(p + i, bytes.size() - i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

bool ParseJson(const std::string& text, Value& out, std::string& error) {
    Parser parser(text);
    out = Value();
    if (parser.Document(out)) return true;
    error = parser.Error();
    return false;
}

std::string QuoteJson(const std::string& utf8) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char c = p[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else if (c >= 0x80) {
            const std::size_t n = Utf8Length(p + i, utf8.size() - i);
            if (n == 0) {
                out += "\xEF\xBF\xBD";
                ++i;
                continue;
            }
            out.append(utf8, i, n);
            i += n;
            continue;
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    out += '"';
    return out;
}

}  // namespace trv::bridge
