// The fake browser's pipes and reader thread. Test code; the reader thread
// only reads frames and queues them.
#include "FakeBrowser.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

using nlohmann::json;

CFakeBrowser::~CFakeBrowser()
{
    Kill();
    CloseInput();
    HoldOutput(false);
    if (m_hReader)
    {
        WaitForSingleObject(m_hReader, 5000);
        CloseHandle(m_hReader);
    }
    if (m_hOutput)
        CloseHandle(m_hOutput);
    if (m_hProcess)
        CloseHandle(m_hProcess);
    if (m_hArrived)
        CloseHandle(m_hArrived);
    if (m_hReading)
        CloseHandle(m_hReading);
    if (m_bSectionReady)
        DeleteCriticalSection(&m_section);
}

bool CFakeBrowser::Start(const std::string& program, const std::string& arguments)
{
    InitializeCriticalSection(&m_section);
    m_bSectionReady = true;
    m_hArrived = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    m_hReading = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE childInput = nullptr, childOutput = nullptr;
    if (!CreatePipe(&childInput, &m_hInput, &inherit, 0))
        return false;
    if (!CreatePipe(&m_hOutput, &childOutput, &inherit, 0))
        return false;
    // Only the host's own ends are inherited.
    SetHandleInformation(m_hInput, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(m_hOutput, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childInput;
    startup.hStdOutput = childOutput;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::string commandLine = "\"" + program + "\" " + arguments;
    PROCESS_INFORMATION info = {};
    BOOL started = CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &info);
    CloseHandle(childInput);
    CloseHandle(childOutput);
    if (!started)
        return false;
    CloseHandle(info.hThread);
    m_hProcess = info.hProcess;
    m_hReader = CreateThread(nullptr, 0, s_Reader, this, 0, nullptr);
    return m_hReader != nullptr;
}

bool CFakeBrowser::SendRaw(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size())
    {
        DWORD written = 0;
        if (!m_hInput ||
            !WriteFile(m_hInput, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr))
            return false;
        done += written;
    }
    return true;
}

bool CFakeBrowser::Send(const std::string& payload)
{
    uint32_t length = static_cast<uint32_t>(payload.size());
    std::string frame(reinterpret_cast<const char*>(&length), 4);
    return SendRaw(frame + payload);
}

void CFakeBrowser::HoldOutput(bool hold)
{
    if (m_hReading)
        hold ? ResetEvent(m_hReading) : SetEvent(m_hReading);
}

void CFakeBrowser::CloseInput()
{
    if (m_hInput)
        CloseHandle(m_hInput);
    m_hInput = nullptr;
}

DWORD WINAPI CFakeBrowser::s_Reader(void* self)
{
    try
    {
        static_cast<CFakeBrowser*>(self)->ReadFrames();
    }
    catch (...)
    {
    }
    return 0;
}

void CFakeBrowser::ReadFrames()
{
    // Reads in large pieces, as a browser does, and cuts frames out of them.
    std::string buffered;
    size_t at = 0;
    std::vector<char> chunk(1 << 16);
    auto readExactly = [&](char* buffer, size_t size) {
        while (buffered.size() - at < size)
        {
            DWORD got = 0;
            WaitForSingleObject(m_hReading, INFINITE);
            if (!ReadFile(m_hOutput, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) || got == 0)
                return false;
            buffered.erase(0, at);
            at = 0;
            buffered.append(chunk.data(), got);
        }
        memcpy(buffer, buffered.data() + at, size);
        at += size;
        return true;
    };
    for (;;)
    {
        uint32_t length = 0;
        if (!readExactly(reinterpret_cast<char*>(&length), 4))
            break;
        std::string payload(length, '\0');
        if (length && !readExactly(&payload[0], length))
            break;
        EnterCriticalSection(&m_section);
        m_frames.emplace_back(std::move(payload), length);
        if (length > m_largest)
            m_largest = length;
        bool waiting = m_bWaiting;
        m_bWaiting = false;
        LeaveCriticalSection(&m_section);
        if (waiting)
            SetEvent(m_hArrived);
    }
    EnterCriticalSection(&m_section);
    m_bEnded = true;
    LeaveCriticalSection(&m_section);
    SetEvent(m_hArrived);
}

bool CFakeBrowser::Receive(json& message, DWORD timeoutMs, size_t* size)
{
    DWORD start = GetTickCount();
    for (;;)
    {
        EnterCriticalSection(&m_section);
        bool have = !m_frames.empty();
        std::pair<std::string, size_t> frame;
        if (have)
        {
            frame = std::move(m_frames.front());
            m_frames.pop_front();
        }
        bool ended = m_bEnded;
        DWORD spent = GetTickCount() - start;
        m_bWaiting = !have && !ended && spent < timeoutMs;
        LeaveCriticalSection(&m_section);
        if (have)
        {
            message = json::parse(frame.first, nullptr, false);
            if (size)
                *size = frame.second;
            return true;
        }
        if (ended || spent >= timeoutMs)
            return false;
        WaitForSingleObject(m_hArrived, timeoutMs - spent);
    }
}

bool CFakeBrowser::Answers(int64_t id, std::vector<json>& messages, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    json message;
    while (Receive(message, timeoutMs - std::min<DWORD>(timeoutMs, GetTickCount() - start)))
    {
        messages.push_back(message);
        if (message.is_object() && message.value("id", json()) == json(id) &&
            (message.value("type", "") == "result" || message.value("type", "") == "error"))
            return true;
    }
    return false;
}

std::vector<json> CFakeBrowser::Call(int64_t id, const std::string& op, const std::vector<std::string>& args,
                                     DWORD timeoutMs)
{
    std::vector<json> messages;
    json request = {{"id", id}, {"op", op}, {"args", args}};
    if (Send(request))
        Answers(id, messages, timeoutMs);
    return messages;
}

DWORD CFakeBrowser::WaitExit(DWORD timeoutMs)
{
    DWORD code = STILL_ACTIVE;
    if (m_hProcess && WaitForSingleObject(m_hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(m_hProcess, &code);
    return code;
}

size_t CFakeBrowser::LargestFrame() const
{
    EnterCriticalSection(const_cast<CRITICAL_SECTION*>(&m_section));
    size_t largest = m_largest;
    LeaveCriticalSection(const_cast<CRITICAL_SECTION*>(&m_section));
    return largest;
}

void CFakeBrowser::Kill()
{
    if (m_hProcess && WaitForSingleObject(m_hProcess, 0) == WAIT_TIMEOUT)
    {
        TerminateProcess(m_hProcess, 255);
        WaitForSingleObject(m_hProcess, 5000);
    }
}
