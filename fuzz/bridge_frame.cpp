// The native host's frame reader on standard input, which any page script
// can fill through the extension. Input: one byte for how the pipe splits the
// stream, then the stream.
#include "bridge/framing.h"
#include "fuzz/fuzz.h"

namespace {

struct Outcome {
    std::vector<trv::bridge::Frame> frames;
    std::size_t stop = 0;  // where the reader stood after the last frame
};

Outcome ReadAll(const std::uint8_t* stream, std::size_t size, std::uint8_t plan) {
    trv::fuzz::PieceReader pipe(stream, size, plan);
    const trv::bridge::ByteSource source = [&](char* b, std::size_t n) { return pipe.Read(b, n); };
    Outcome out;
    do {
        out.frames.push_back(trv::bridge::ReadFrame(source));
    } while (out.frames.back().outcome == trv::bridge::Frame::Outcome::Message);
    FUZZ_CHECK(pipe.ReadsAtEnd() <= 1);
    out.stop = pipe.Position();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t* stream = data + 1;
    const std::size_t length = size - 1;
    const Outcome out = ReadAll(stream, length, data[0]);

    // The messages, framed again, are the stream up to the last of them; what
    // ends the read is the clean end there, or an error for a frame that
    // cannot be whole, whose over-long body is not read at all.
    std::string again;
    for (std::size_t i = 0; i + 1 < out.frames.size(); ++i) {
        std::string frame;
        FUZZ_CHECK(trv::bridge::EncodeFrame(out.frames[i].body, frame));
        again += frame;
    }
    FUZZ_CHECK(again.size() <= length && std::memcmp(again.data(), stream, again.size()) == 0);
    const std::size_t left = length - again.size();
    std::uint32_t announced = 0;
    if (left >= 4) std::memcpy(&announced, stream + again.size(), 4);
    const bool end = out.frames.back().outcome == trv::bridge::Frame::Outcome::End;
    FUZZ_CHECK(end == (left == 0));
    if (!end) FUZZ_CHECK(left < 4 || left - 4 < announced || announced > trv::bridge::kMaxIncoming);
    if (announced > trv::bridge::kMaxIncoming) FUZZ_CHECK(out.stop == again.size() + 4);

    // However the pipe splits the stream, the frames are the same.
    const Outcome bytewise = ReadAll(stream, length, 0);
    FUZZ_CHECK(bytewise.frames.size() == out.frames.size() && bytewise.stop == out.stop);
    for (std::size_t i = 0; i < out.frames.size(); ++i)
        FUZZ_CHECK(bytewise.frames[i].body == out.frames[i].body && bytewise.frames[i].outcome == out.frames[i].outcome);
    return 0;
}
