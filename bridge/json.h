// A small strict JSON reader and writer for the native host's messages.
// Input is untrusted: it must be UTF-8, follow the grammar exactly and nest
// at most kMaxDepth deep; anything else is refused with a reason.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace trv::bridge {

constexpr int kMaxDepth = 32;

struct Value {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string text;  // String, as UTF-8
    std::vector<Value> items;
    std::vector<std::pair<std::string, Value>> members;  // in the order written
};

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsUtf8(const std::string& bytes);

// The whole of `text` as one value, or false with a reason.
bool ParseJson(const std::string& text, Value& out, std::string& error);

// `utf8` as a JSON string literal. Bytes that are not UTF-8 become U+FFFD, so
// what goes out is always valid JSON.
std::string QuoteJson(const std::string& utf8);

}  // namespace trv::bridge
