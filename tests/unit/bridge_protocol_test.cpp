// The native host's input: whatever bytes arrive, each read gives a request,
// a clean end or an error that stops the stream, never a crash or a hang.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "bridge/protocol.h"

namespace {

using namespace trv::bridge;

std::string Framed(const std::string& body) {
    std::uint32_t n = static_cast<std::uint32_t>(body.size());
    return std::string(reinterpret_cast<const char*>(&n), 4) + body;
}

std::string Call(const std::string& method, const std::string& args) {
    return Framed("{\"id\":7,\"url\":\"http://127.0.0.1/\",\"method\":\"" + method +
                  "\",\"args\":[" + args + "]}");
}

// A request as one line: id, url, method and every argument by kind; strings
// quoted back, so the writer's escaping is checked too.
std::string Show(const Incoming& in) {
    if (in.kind == Incoming::Kind::End) return "end";
    if (in.kind == Incoming::Kind::Error) return "error";
    const Request& r = in.request;
    std::string line = std::to_string(r.id) + " " + r.url + " " + r.method + "(";
    for (const Value& a : r.args) {
        switch (a.kind) {
        case Value::Kind::String: line += QuoteJson(a.text); break;
        case Value::Kind::Number: line += "n"; break;
        case Value::Kind::Bool: line += "b"; break;
        case Value::Kind::Null: line += "null"; break;
        default: line += "other"; break;
        }
        line += " ";
    }
    return line + ")";
}

struct Case {
    const char* attack;
    std::string bytes;
    std::size_t chunk;  // the most a single read delivers
    std::vector<std::string> outcomes;
};

TEST(BridgeProtocol, HostileInputGivesRequestEndOrError) {
    const std::string one = Call("UpLoadInfo", "\"7\"");
    const std::string shown = "7 http://127.0.0.1/ UpLoadInfo(\"7\" )";
    std::string over(4, '\xFF');
    const std::string capLength = Framed(std::string(kMaxIncoming + 1, ' ')).substr(0, 4);
    const std::string body = one.substr(4);
    const std::string padded = Framed(body + std::string(kMaxIncoming - body.size(), ' '));
    const std::vector<Case> cases = {
        {"two_calls_in_one_byte_reads", one + one, 1, {shown, shown, "end"}},
        {"call_split_across_reads", one + one, 5, {shown, shown, "end"}},
        {"nothing_at_all", "", 64, {"end"}},
        {"length_over_cap_never_allocated", over + "x", 64, {"error"}},
        {"length_one_over_cap", capLength, 64, {"error"}},
        {"input_ends_in_length", one + one.substr(0, 3), 64, {shown, "error"}},
        {"input_ends_in_body", one.substr(0, one.size() - 1), 64, {"error"}},
        {"empty_frame", Framed(""), 64, {"error"}},
        {"invalid_utf8_overlong_quote", Call("A\xC0\xA2", ""), 64, {"error"}},
        {"invalid_utf8_encoded_surrogate", Call("\xED\xA0\x80", ""), 64, {"error"}},
        {"lone_surrogate_escape", Call("\\ud800x", ""), 64, {"error"}},
        {"invalid_utf8_overlong_slash", Call("\xE0\x80\xAF", ""), 64, {"error"}},
        {"lone_low_surrogate_escape", Call("\\udc00", ""), 64, {"error"}},
        {"padded_to_exactly_the_cap", padded, 1 << 16, {shown, "end"}},
        {"surrogate_pair_and_escapes", Call("M", "\"\\ud83d\\ude00\\\"\\\\\\u0001\\n한\""), 64,
         {"7 http://127.0.0.1/ M(\"\xF0\x9F\x98\x80\\\"\\\\\\u0001\\n한\" )", "end"}},
        {"trailing_comma", Call("M", "\"a\","), 64, {"error"}},
        {"raw_control_char_in_string", Call("M", "\"a\tb\""), 64, {"error"}},
        {"leading_zero_number", Call("M", "01"), 64, {"error"}},
        {"text_after_value", Framed("{}{}"), 64, {"error"}},
        {"not_an_object", Framed("[1]"), 64, {"error"}},
        {"missing_id", Framed("{\"url\":\"u\",\"method\":\"M\",\"args\":[]}"), 64, {"error"}},
        {"missing_args", Framed("{\"id\":1,\"url\":\"u\",\"method\":\"M\"}"), 64, {"error"}},
        {"fractional_id", Framed("{\"id\":1.5,\"url\":\"u\",\"method\":\"M\",\"args\":[]}"), 64,
         {"error"}},
        {"smuggled_member", Framed("{\"id\":1,\"url\":\"u\",\"method\":\"M\",\"args\":[],\"x\":0}"),
         64, {"error"}},
        {"url_given_twice",
         Framed("{\"id\":1,\"url\":\"u\",\"url\":\"v\",\"method\":\"M\",\"args\":[]}"), 64,
         {"error"}},
        {"args_not_an_array", Framed("{\"id\":1,\"url\":\"u\",\"method\":\"M\",\"args\":\"a\"}"),
         64, {"error"}},
        {"argument_kinds_kept_for_the_object", Call("M", "1e3,true,null,[],{}") + one, 64,
         {"7 http://127.0.0.1/ M(n b null other other )", shown, "end"}},
        {"number_overflow", Call("M", "1e999"), 64, {"error"}},
        {"deep_nesting", Call("M", std::string(10000, '[') + std::string(10000, ']')), 64,
         {"error"}},
        {"error_stops_the_stream", Framed("x") + one, 64, {"error"}},
    };
    for (const Case& c : cases) {
        std::size_t at = 0;
        const ByteSource source = [&](char* buffer, std::size_t size) -> long {
            const std::size_t n = std::min({size, c.chunk, c.bytes.size() - at});
            std::memcpy(buffer, c.bytes.data() + at, n);
            at += n;
            return static_cast<long>(n);
        };
        std::vector<std::string> seen;
        // Bounded: a reader that never reaches its end fails here, not hangs.
        while (seen.size() < 8) {
            const Incoming in = ReadRequest(source);
            seen.push_back(Show(in));
            if (in.kind != Incoming::Kind::Request) break;
        }
        EXPECT_EQ(seen, c.outcomes) << c.attack;
    }
    std::string frame;
    EXPECT_FALSE(EncodeFrame(std::string(kMaxOutgoing, 'x'), frame)) << "oversized_reply_sent";
}

}  // namespace
