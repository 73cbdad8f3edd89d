// The messages between the browser extension and the native host.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bridge/framing.h"
#include "bridge/json.h"

namespace trv::bridge {

constexpr int kProtocol = 1;

// {"id":N,"url":"...","method":"...","args":[...]}: nothing more, nothing less.
// The arguments keep their JSON kinds; the object decides what it accepts.
struct Request {
    std::int64_t id = 0;
    std::string url;
    std::string method;
    std::vector<Value> args;
};

bool DecodeRequest(const std::string& body, Request& out, std::string& error);

// The DISPID (1 to 12) of one of IWebBBS's twelve methods, named without
// regard to ASCII case as IDispatch names them; 0 for any other name, the
// members the interface inherits (QueryInterface, Invoke, ...) included.
int MethodDispid(const std::string& name);

// The next request from the stream: a request, the clean end of input, or an
// error after which nothing more may be read (the stream cannot be trusted).
struct Incoming {
    enum class Kind { Request, End, Error };
    Kind kind = Kind::Error;
    Request request;
    std::string error;
};
Incoming ReadRequest(const ByteSource& source);

std::string HelloMessage(const std::string& version);
// `result` null: the method gave no string.
std::string ReplyMessage(std::int64_t id, std::int32_t hr, const std::string* result);
std::string EventMessage(const std::string& name, const std::vector<std::string>& args);
std::string ErrorMessage(const std::string& message);

}  // namespace trv::bridge
