#include "bridge/framing.h"

#include <cstring>

namespace trv::bridge {
namespace {

enum class Fill { Full, EndAtStart, Short, Failed };

// Reads exactly `size` bytes, across as many short reads as it takes.
Fill ReadExactly(const ByteSource& source, char* buffer, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        const long n = source(buffer + got, size - got);
        if (n < 0) return Fill::Failed;
        if (n == 0) return got == 0 ? Fill::EndAtStart : Fill::Short;
        // A source that claims more than it was asked for is not trusted.
        if (static_cast<unsigned long>(n) > size - got) return Fill::Failed;
        got += static_cast<std::size_t>(n);
    }
    return Fill::Full;
}

Frame Failure(const char* why) {
    Frame f;
    f.outcome = Frame::Outcome::Error;
    f.error = why;
    return f;
}

}  // namespace

Frame ReadFrame(const ByteSource& source) {
    char header[4];
    switch (ReadExactly(source, header, sizeof header)) {
    case Fill::Full: break;
    case Fill::EndAtStart: {
        Frame f;
        f.outcome = Frame::Outcome::End;
        return f;
    }
    case Fill::Short: return Failure("input ended inside a frame's length");
    case Fill::Failed: return Failure("cannot read the input");
    }
    std::uint32_t length = 0;
    std::memcpy(&length, header, sizeof length);
    if (length > kMaxIncoming) return Failure("message longer than 1 MiB");
    Frame f;
    f.body.resize(length);
    switch (length ? ReadExactly(source, &f.body[0], length) : Fill::Full) {
    case Fill::Full: f.outcome = Frame::Outcome::Message; return f;
    case Fill::EndAtStart:
    case Fill::Short: return Failure("input ended inside a message");
    case Fill::Failed: break;
    }
    return Failure("cannot read the input");
}

bool EncodeFrame(const std::string& body, std::string& frame) {
    if (body.size() + sizeof(std::uint32_t) >= kMaxOutgoing) return false;
    const std::uint32_t length = static_cast<std::uint32_t>(body.size());
    frame.resize(sizeof length);
    std::memcpy(&frame[0], &length, sizeof length);
    frame += body;
    return true;
}

}  // namespace trv::bridge
