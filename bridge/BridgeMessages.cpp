// The bridge's JSON: requests checked field by field, answers built as
// objects. Strings are UTF-8 throughout; the JSON library checks the text it
// reads and escapes what it writes. Any thread.
#include "bridge/BridgeMessages.h"

#include <cstring>
#include <nlohmann/json.hpp>

#include "base/Shared.h"

using nlohmann::json;

const char CBridgeMessages::kBadUtf8[] = "bad-utf8";
const char CBridgeMessages::kBadJson[] = "bad-json";
const char CBridgeMessages::kBadRequest[] = "bad-request";
const char CBridgeMessages::kUnknownOp[] = "unknown-op";
const char CBridgeMessages::kBadArguments[] = "bad-arguments";
const char CBridgeMessages::kTooLarge[] = "too-large";
const char CBridgeMessages::kFailed[] = "failed";
const char CBridgeMessages::kBusy[] = "busy";

namespace
{
struct MethodShape
{
    const char* name;
    int parameters;
};

// The thirteen methods of IVedADA with their input parameters (the web
// link's answer is the result, not an argument).
const MethodShape kMethods[] = {
    {"CheckInstall", 0},     {"AllowPopUp", 1},       {"ShowUpFileDlg", 0},    {"SelectComplete", 3},
    {"UpLoadInit", 0},       {"UpLoadInfo", 1},       {"UpLoadEnd", 2},        {"DownLoadInit", 0},
    {"DownLoadInfo", 2},     {"DownLoadEnd", 3},      {"LauncherExplorer", 2}, {"LauncherWebLink", 3},
    {"DownLoadSpInit", 0},
};

json Answer(const BridgeRequest& request, const char* type)
{
    json message = json::object();
    message["type"] = type;
    message["id"] = request.hasId ? json(request.id) : json(nullptr);
    return message;
}

std::string Dump(const json& message)
{
    // Text that is not UTF-8 (it cannot come from the conversions here) is
    // replaced rather than thrown at the caller.
    return message.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool Fail(BridgeFault& fault, const char* code, std::string message)
{
    fault.code = code;
    fault.message = std::move(message);
    return false;
}
}

int CBridgeMessages::ParameterCount(const std::string& op)
{
    for (const MethodShape& method : kMethods)
        if (op == method.name)
            return method.parameters;
    return -1;
}

bool CBridgeMessages::ParseRequest(const std::string& payload, BridgeRequest& request, BridgeFault& fault)
{
    request = BridgeRequest();
    std::wstring wide;
    if (!Utf8ToWide(payload, wide))
        return Fail(fault, kBadUtf8, "the message is not UTF-8");
    json message = json::parse(payload, nullptr, false);
    if (message.is_discarded())
        return Fail(fault, kBadJson, "the message is not JSON");
    if (!message.is_object())
        return Fail(fault, kBadJson, "the message is not a JSON object");

    // The id first: every later fault is answered to it.
    // An id beyond what a JavaScript number holds exactly is refused rather
    // than answered as another number.
    auto id = message.find("id");
    if (id != message.end() && id->is_number_unsigned())
    {
        uint64_t value = id->get<uint64_t>();
        request.hasId = value <= static_cast<uint64_t>(kMaxRequestId);
        request.id = static_cast<int64_t>(value);
    }
    else if (id != message.end() && id->is_number_integer())
    {
        int64_t value = id->get<int64_t>();
        request.hasId = value >= -kMaxRequestId && value <= kMaxRequestId;
        request.id = value;
    }
    if (!request.hasId)
    {
        request.id = 0;
        return Fail(fault, kBadRequest, "\"id\" must be an integer of at most 2^53 - 1 in magnitude");
    }

    auto origin = message.find("origin");
    if (origin != message.end() && !origin->is_null())
    {
        if (!origin->is_string())
            return Fail(fault, kBadRequest, "\"origin\" must be a string");
        request.hasOrigin = true;
        request.origin = origin->get<std::string>();
    }

    auto op = message.find("op");
    if (op == message.end() || !op->is_string())
        return Fail(fault, kBadRequest, "\"op\" must be a string");
    request.op = op->get<std::string>();
    int expected = ParameterCount(request.op);
    if (expected < 0)
        return Fail(fault, kUnknownOp, "no method is called " + Quote(request.op));

    auto args = message.find("args");
    if (args != message.end() && !args->is_array())
        return Fail(fault, kBadArguments, "\"args\" must be an array of strings");
    size_t given = args == message.end() ? 0 : args->size();
    if (given != static_cast<size_t>(expected))
        return Fail(fault, kBadArguments,
                    request.op + " takes " + std::to_string(expected) + " argument(s), not " + std::to_string(given));
    for (size_t i = 0; i < given; ++i)
    {
        const json& arg = (*args)[i];
        if (!arg.is_string())
            return Fail(fault, kBadArguments, "argument " + std::to_string(i + 1) + " is not a string");
        request.args.push_back(arg.get<std::string>());
    }
    return true;
}

std::string CBridgeMessages::Hello(const char* version)
{
    json message = json::object();
    message["type"] = "hello";
    message["version"] = version;
    return Dump(message);
}

std::string CBridgeMessages::Event(const BridgeRequest& request, const char* name, const std::vector<std::string>& args)
{
    json message = Answer(request, "event");
    message["name"] = name;
    message["args"] = args;
    return Dump(message);
}

std::string CBridgeMessages::Dialog(const BridgeRequest& request, const char* name, bool open)
{
    json message = Answer(request, "dialog");
    message["name"] = name;
    message["state"] = open ? "open" : "closed";
    return Dump(message);
}

std::string CBridgeMessages::Result(const BridgeRequest& request, bool value)
{
    json message = Answer(request, "result");
    message["value"] = value;
    return Dump(message);
}

std::string CBridgeMessages::Result(const BridgeRequest& request, const std::string& value)
{
    json message = Answer(request, "result");
    message["value"] = value;
    return Dump(message);
}

std::string CBridgeMessages::Error(const BridgeRequest& request, const char* code, const std::string& message)
{
    json answer = Answer(request, "error");
    answer["code"] = code;
    answer["message"] = message;
    std::string text = Dump(answer);
    // An answer over the limit would never reach its caller: its message is
    // cut (escapes take at most six bytes a character).
    if (text.size() > kMaxMessageBytes)
    {
        answer["message"] = Quote(message);
        text = Dump(answer);
    }
    return text;
}

std::string CBridgeMessages::Quote(const std::string& text)
{
    const size_t kShown = 64;
    if (text.size() <= kShown)
        return "\"" + text + "\"";
    // Cut on a character boundary: never inside a UTF-8 sequence.
    size_t cut = kShown;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return "\"" + text.substr(0, cut) + "...\" (" + std::to_string(text.size()) + " bytes)";
}
