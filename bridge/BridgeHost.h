// CBridgeHost: one browser tab's control, served over the host's standard
// input and output. A reader thread reads frames and posts them to the main
// thread, which runs one request at a time: a request that arrives while
// another runs (the picker and the install dialog run modal loops) waits its
// turn, so calls keep the order the page sent them in. What waits is bounded
// in bytes and in requests; a request beyond the bound is answered busy at
// once by the reader, which reads it piece by piece and keeps none of it.
#pragma once

#include <windows.h>
#include <deque>
#include <string>

#include "base/Shared.h"
#include "bridge/BridgeControl.h"
#include "bridge/BridgeMessages.h"
#include "bridge/FrameWriter.h"

class CFrameReader;

class CBridgeHost
{
public:
    CBridgeHost(HANDLE input, HANDLE output);
    ~CBridgeHost();
    CBridgeHost(const CBridgeHost&) = delete;
    CBridgeHost& operator=(const CBridgeHost&) = delete;

    // Says hello and serves until the input ends; answers the exit code.
    int Run();

private:
    static DWORD WINAPI s_ReaderThread(void* parameter);
    static LRESULT CALLBACK s_WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static void s_OnOwnerlessDialog(WORD templateId, bool open);
    // What the reader hands to the main thread, in the order read.
    struct Incoming
    {
        bool oversized;        // a frame over the limit was dropped
        std::string payload;
        BridgeRequest dropped; // an oversized frame's id, where it had one
    };

    void ReadFrames();
    // Takes one frame whose length has been read; false when the input
    // ended inside it.
    bool ReadFrame(CFrameReader& reader, uint32_t length);
    // Counts a frame of that size as waiting, when the bound leaves room.
    bool TakeRoom(size_t bytes);
    void Deliver(Incoming incoming);
    void OnInputEnded();
    void TakeInbox();
    void ServeQueue();
    void Serve(const std::string& payload);
    void Dispatch(const BridgeRequest& request);
    bool SendEvent(const char* name, const std::vector<std::string>& args);

    HANDLE m_hInput;
    CFrameWriter m_writer;
    CBridgeControl m_control;
    HWND m_hWindow = nullptr;
    CScopedHandle m_hMainThread;
    CScopedHandle m_hReader;
    // Filled by the reader under the lock; one posted message at a time
    // tells the main thread to take it, so no frame depends on the room in
    // the thread's message queue.
    CCriticalSection m_inboxSection;
    std::deque<Incoming> m_inbox;
    bool m_bKickPending = false;
    bool m_bInputEnded = false;
    // What waits to be served, the inbox and the queue together (under the
    // lock): a frame counts from before it is read until it is served.
    size_t m_waitingRequests = 0;
    size_t m_waitingBytes = 0;
    // Taken by the main thread, waiting for the request before them to end.
    std::deque<Incoming> m_queue;
    bool m_bBusy = false;
    bool m_bEnded = false;
    // The request being served, whose events and dialog notices go out now.
    const BridgeRequest* m_pCurrent = nullptr;
};
