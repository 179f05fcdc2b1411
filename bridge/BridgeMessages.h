// CBridgeMessages: the browser bridge's messages, read and written as JSON.
// A request names one IVedADA method and carries its arguments as strings;
// the host answers with events, dialog notices and one result or error. Pure
// logic over strings; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Largest message either side may send: browsers take no more from a host.
constexpr size_t kMaxMessageBytes = 1024 * 1024;
// 2^53 - 1: ids beyond it in magnitude would reach a page as other numbers.
constexpr int64_t kMaxRequestId = 9007199254740991ll;

struct BridgeRequest
{
    bool hasId = false;
    int64_t id = 0;
    std::string op;
    std::vector<std::string> args;   // UTF-8, as sent
    bool hasOrigin = false;
    std::string origin;              // the page origin the extension vouches for
};

struct BridgeFault
{
    const char* code;
    std::string message;
};

class CBridgeMessages
{
public:
    // Error codes of the protocol.
    static const char kBadUtf8[];        // the frame is not UTF-8
    static const char kBadJson[];        // not JSON, or not a request object
    static const char kBadRequest[];     // id, op, args or origin of the wrong kind
    static const char kUnknownOp[];      // op names no method
    static const char kBadArguments[];   // wrong number of arguments, or one not a string
    static const char kTooLarge[];       // a frame over the limit, or an answer that would be
    static const char kFailed[];         // the method could not run (out of memory)
    static const char kBusy[];           // too much is waiting: the request was not read

    // Reads a request frame. On failure fills the fault and, where it could be
    // read, the request's id, so the answer reaches the right caller.
    static bool ParseRequest(const std::string& payload, BridgeRequest& request, BridgeFault& fault);
    // The number of string arguments of an IVedADA method, or -1 for a name
    // that is none of the thirteen.
    static int ParameterCount(const std::string& op);

    static std::string Hello(const char* version);
    static std::string Event(const BridgeRequest& request, const char* name, const std::vector<std::string>& args);
    static std::string Dialog(const BridgeRequest& request, const char* name, bool open);
    static std::string Result(const BridgeRequest& request, bool value);
    static std::string Result(const BridgeRequest& request, const std::string& value);
    // Never over the message limit: a message too long for it is cut.
    static std::string Error(const BridgeRequest& request, const char* code, const std::string& message);
    // The page's text quoted in a message, cut to a few dozen bytes.
    static std::string Quote(const std::string& text);
};
