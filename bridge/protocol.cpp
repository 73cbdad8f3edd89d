#include "bridge/protocol.h"

#include <cmath>

namespace trv::bridge {
namespace {

// Integers a script's number holds exactly.
constexpr double kMaxId = 9007199254740991.0;

// In DISPID order.
constexpr const char* kMethods[] = {
    "CheckInstall", "AllowPopUp",  "ShowUpFileDlg", "SelectComplete",   "UpLoadInit",     "UpLoadInfo",
    "UpLoadEnd",    "DownLoadInit", "DownLoadInfo", "DownLoadEnd", "LauncherExplorer", "LauncherWebLink"};

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool DecodeRequest(const std::string& body, Request& out, std::string& error) {
    Value v;
    if (!ParseJson(body, v, error)) return false;
    if (v.kind != Value::Kind::Object) return (error = "a request is an object"), false;
    bool haveId = false, haveUrl = false, haveMethod = false, haveArgs = false;
    out = Request();
    for (auto& m : v.members) {
        Value& field = m.second;
        if (m.first == "id" && field.kind == Value::Kind::Number &&
            std::fabs(field.number) <= kMaxId && field.number == std::floor(field.number)) {
            out.id = static_cast<std::int64_t>(field.number);
            haveId = true;
        } else if (m.first == "url" && field.kind == Value::Kind::String) {
            out.url = std::move(field.text);
            haveUrl = true;
        } else if (m.first == "method" && field.kind == Value::Kind::String) {
            out.method = std::move(field.text);
            haveMethod = true;
        } else if (m.first == "args" && field.kind == Value::Kind::Array) {
            out.args = std::move(field.items);
            haveArgs = true;
        } else {
            // The member's name is not echoed: it is the sender's text.
            error = "a request member is unknown or of the wrong kind";
            return false;
        }
    }
    if (!haveId || !haveUrl || !haveMethod || !haveArgs) {
        error = "a request needs id, url, method and args";
        return false;
    }
    return true;
}

int MethodDispid(const std::string& name) {
    for (int i = 0; i < 12; ++i) {
        const std::string method = kMethods[i];
        if (name.size() != method.size()) continue;
        std::size_t k = 0;
        while (k < name.size() && AsciiLower(name[k]) == AsciiLower(method[k])) ++k;
        if (k == name.size()) return i + 1;
    }
    return 0;
}

Incoming ReadRequest(const ByteSource& source) {
    Incoming in;
    Frame frame = ReadFrame(source);
    if (frame.outcome == Frame::Outcome::End) {
        in.kind = Incoming::Kind::End;
    } else if (frame.outcome == Frame::Outcome::Error) {
        in.error = std::move(frame.error);
    } else if (DecodeRequest(frame.body, in.request, in.error)) {
        in.kind = Incoming::Kind::Request;
    } else {
        in.error = "bad request: " + in.error;
    }
    return in;
}

std::string HelloMessage(const std::string& version) {
    return "{\"type\":\"hello\",\"protocol\":" + std::to_string(kProtocol) +
           ",\"version\":" + QuoteJson(version) + "}";
}

std::string ReplyMessage(std::int64_t id, std::int32_t hr, const std::string* result) {
    return "{\"id\":" + std::to_string(id) + ",\"hr\":" + std::to_string(hr) +
           ",\"result\":" + (result ? QuoteJson(*result) : std::string("null")) + "}";
}

std::string EventMessage(const std::string& name, const std::vector<std::string>& args) {
    std::string out = "{\"type\":\"event\",\"name\":" + QuoteJson(name) + ",\"args\":[";
    for (std::size_t i = 0; i < args.size(); ++i) out += (i ? "," : "") + QuoteJson(args[i]);
    return out + "]}";
}

std::string ErrorMessage(const std::string& message) {
    return "{\"type\":\"error\",\"message\":" + QuoteJson(message) + "}";
}

}  // namespace trv::bridge
