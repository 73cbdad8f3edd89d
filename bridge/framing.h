// The browsers' native-messaging framing: each message is UTF-8 JSON preceded
// by its length, a 32-bit unsigned integer in the machine's byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace trv::bridge {

// Incoming messages may be this long; longer lengths are refused unread.
constexpr std::uint32_t kMaxIncoming = 1024 * 1024;
// Outgoing messages stay below this (the browsers drop the port otherwise).
constexpr std::size_t kMaxOutgoing = 1024 * 1024;

// Reads up to `size` bytes into `buffer`: the count read (possibly fewer than
// asked), 0 at the end of input, negative on a read error.
using ByteSource = std::function<long(char* buffer, std::size_t size)>;

struct Frame {
    enum class Outcome { Message, End, Error };
    Outcome outcome = Outcome::Error;
    std::string body;   // Message
    std::string error;  // Error: why the stream cannot go on
};

// One frame. End only when the input ends exactly between frames; a stream
// that ends or fails inside a frame, or announces too long a frame, is an
// Error and cannot be resynchronised.
Frame ReadFrame(const ByteSource& source);

// The frame for `body`, or false when it would reach kMaxOutgoing.
bool EncodeFrame(const std::string& body, std::string& frame);

}  // namespace trv::bridge
