// CFakeBrowser: what a browser does with a native-messaging host, for the
// bridge's tests and benchmark: starts the host with pipes for its standard
// input and output, writes framed requests and reads framed answers on a
// thread of its own (so a host that writes many events never blocks).
#pragma once

#include <windows.h>
#include <deque>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

class CFakeBrowser
{
public:
    CFakeBrowser() = default;
    ~CFakeBrowser();
    CFakeBrowser(const CFakeBrowser&) = delete;
    CFakeBrowser& operator=(const CFakeBrowser&) = delete;

    // Starts program with the command-line arguments after its name.
    bool Start(const std::string& program, const std::string& arguments);
    // One frame around the payload; SendRaw writes bytes as they are.
    bool Send(const std::string& payload);
    bool Send(const nlohmann::json& message) { return Send(message.dump()); }
    bool SendRaw(const std::string& bytes);
    // Closes the host's input: the end a browser gives when the tab goes.
    void CloseInput();
    // Stops reading the host's output (a browser that does not keep up), or
    // reads on.
    void HoldOutput(bool hold);

    // The next message (false when none came within the time, or the
    // host's output ended); size: its frame's byte count.
    bool Receive(nlohmann::json& message, DWORD timeoutMs, size_t* size = nullptr);
    // Every message up to and including the result or error of the request
    // id; false when it did not come within the time.
    bool Answers(int64_t id, std::vector<nlohmann::json>& messages, DWORD timeoutMs);
    // Sends {"id", "op", "args"} and collects its answers.
    std::vector<nlohmann::json> Call(int64_t id, const std::string& op, const std::vector<std::string>& args,
                                     DWORD timeoutMs = 30000);

    // Waits for the host to end; its exit code, or STILL_ACTIVE.
    DWORD WaitExit(DWORD timeoutMs);
    HANDLE Process() const { return m_hProcess; }
    size_t LargestFrame() const;
    void Kill();

private:
    static DWORD WINAPI s_Reader(void* self);
    void ReadFrames();

    HANDLE m_hProcess = nullptr;
    HANDLE m_hInput = nullptr;    // our end of the host's standard input
    HANDLE m_hOutput = nullptr;   // our end of its standard output
    HANDLE m_hReader = nullptr;
    HANDLE m_hArrived = nullptr;  // set whenever a frame arrives or the output ends
    HANDLE m_hReading = nullptr;  // manual-reset: set while the output is read
    CRITICAL_SECTION m_section;
    bool m_bSectionReady = false;
    std::deque<std::pair<std::string, size_t>> m_frames;
    bool m_bEnded = false;
    bool m_bWaiting = false;   // Receive waits for m_hArrived (set only then: it is a system call)
    size_t m_largest = 0;
};
