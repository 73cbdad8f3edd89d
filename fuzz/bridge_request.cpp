// The native host's requests, as a page's script reaches them through the
// extension. Input: three message bodies (the first two lines and the rest),
// framed and read back as the host reads its session.
#include <cmath>

#include "bridge/protocol.h"
#include "fuzz/fuzz.h"

namespace {

// A value written out again; numbers with every digit a double needs.
std::string Write(const trv::bridge::Value& v) {
    using K = trv::bridge::Value::Kind;
    FUZZ_CHECK(v.kind != K::String || trv::bridge::IsUtf8(v.text));
    char number[32];
    std::string out;
    switch (v.kind) {
    case K::Null: return "null";
    case K::Bool: return v.boolean ? "true" : "false";
    case K::Number: return std::snprintf(number, sizeof number, "%.17g", v.number), number;
    case K::String: return trv::bridge::QuoteJson(v.text);
    case K::Array:
        for (const auto& item : v.items) out += (out.empty() ? "" : ",") + Write(item);
        return "[" + out + "]";
    case K::Object:
        for (const auto& m : v.members)
            out += (out.empty() ? "" : ",") + trv::bridge::QuoteJson(m.first) + ":" + Write(m.second);
        return "{" + out + "}";
    }
    return out;
}

std::string Write(const trv::bridge::Request& r) {
    FUZZ_CHECK(trv::bridge::IsUtf8(r.url) && trv::bridge::IsUtf8(r.method));
    std::string args;
    for (const auto& a : r.args) args += (args.empty() ? "" : ",") + Write(a);
    return "{\"id\":" + std::to_string(r.id) + ",\"url\":" + trv::bridge::QuoteJson(r.url) +
           ",\"method\":" + trv::bridge::QuoteJson(r.method) + ",\"args\":[" + args + "]}";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> bodies = trv::fuzz::Lines(data, size, 3);
    std::string stream;
    std::vector<std::size_t> ends;
    for (const std::string& body : bodies) {
        std::string frame;
        if (!trv::bridge::EncodeFrame(body, frame)) return 0;
        stream += frame;
        ends.push_back(stream.size());
    }
    trv::fuzz::PieceReader pipe(reinterpret_cast<const std::uint8_t*>(stream.data()), stream.size(),
                                static_cast<std::uint8_t>(size));
    const trv::bridge::ByteSource source = [&](char* b, std::size_t n) { return pipe.Read(b, n); };

    for (std::size_t i = 0; i < bodies.size(); ++i) {
        trv::bridge::Request alone;
        std::string why;
        const bool valid = trv::bridge::DecodeRequest(bodies[i], alone, why);
        const trv::bridge::Incoming in = trv::bridge::ReadRequest(source);
        if (!valid) {
            // Refused: the session ends here, with nothing of it called and
            // nothing read past the frame.
            FUZZ_CHECK(in.kind == trv::bridge::Incoming::Kind::Error && !in.error.empty());
            FUZZ_CHECK(pipe.Position() == ends[i]);
            return 0;
        }
        FUZZ_CHECK(in.kind == trv::bridge::Incoming::Kind::Request);
        FUZZ_CHECK(trv::bridge::IsUtf8(bodies[i]));
        // What the host acts on, written out again, reads as the same request.
        const std::string written = Write(in.request);
        trv::bridge::Request reread;
        FUZZ_CHECK(written == Write(alone));
        FUZZ_CHECK(trv::bridge::DecodeRequest(written, reread, why) && Write(reread) == written);
    }
    FUZZ_CHECK(trv::bridge::ReadRequest(source).kind == trv::bridge::Incoming::Kind::End);
    return 0;
}
