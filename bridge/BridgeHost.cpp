// The host's two threads: the reader, which only reads frames and posts
// them, and the main thread, which owns the window the frames are posted to,
// runs the requests and both modal dialogs, and writes every answer.
#include "bridge/BridgeHost.h"

#include "TavrineControl.h"
#include "Version.h"
#include "base/ModalDlg.h"
#include "base/SiteLock.h"
#include "bridge/FrameReader.h"
#include "bridge/RequestIdScanner.h"
#include "resource.h"

namespace
{
const UINT WM_BRIDGE_INBOX = WM_APP + 1;   // the reader put something in the inbox
const char kWindowClass[] = "TavrineBridgeHost";
// Once the input has ended, the host is gone within this, even if a dialog
// is still open: the browser may already have ended the tab.
const DWORD kEndGraceMs = 800;
// What may wait behind a running request (the picker or the install dialog
// may stay open for minutes): a page sends one call at a time, so only a
// runaway or hostile sender reaches these.
const size_t kMaxWaitingRequests = 256;
const size_t kMaxWaitingBytes = 4 * kMaxMessageBytes;

CBridgeHost* g_pHost = nullptr;   // the one host of the process, for the dialog watcher
}

CBridgeHost::CBridgeHost(HANDLE input, HANDLE output)
    : m_hInput(input), m_writer(output, kMaxMessageBytes),
      m_control([this](const char* name, const std::vector<std::string>& args) { return SendEvent(name, args); })
{
}

CBridgeHost::~CBridgeHost()
{
    CModalDlg::WatchOwnerless(nullptr);
    g_pHost = nullptr;
    if (m_hWindow)
        DestroyWindow(m_hWindow);
}

int CBridgeHost::Run()
{
    HANDLE thread = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread, SYNCHRONIZE, FALSE, 0);
    m_hMainThread.Reset(thread);

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = s_WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassA(&windowClass);
    // A message-only window: the modal loops of the dialogs dispatch to it
    // too, so frames that arrive meanwhile are queued, not lost.
    m_hWindow = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance,
                                nullptr);
    if (!m_hWindow)
        return 3;
    SetWindowLongPtrA(m_hWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    g_pHost = this;
    CModalDlg::WatchOwnerless(s_OnOwnerlessDialog);

    if (!m_writer.Write(CBridgeMessages::Hello(TAVRINE_VERSION_STRING)))
        return 1;
    m_hReader.Reset(CreateThread(nullptr, 0, s_ReaderThread, this, 0, nullptr));
    if (!m_hReader)
        return 3;

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
    {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

DWORD WINAPI CBridgeHost::s_ReaderThread(void* parameter)
{
    try
    {
        static_cast<CBridgeHost*>(parameter)->ReadFrames();
    }
    catch (...)
    {
        // Out of memory for a frame: the input cannot be followed any more.
        static_cast<CBridgeHost*>(parameter)->OnInputEnded();
    }
    return 0;
}

void CBridgeHost::ReadFrames()
{
    CFrameReader reader(m_hInput);
    uint32_t length = 0;
    while (reader.Header(length) == CFrameReader::Read::Frame && ReadFrame(reader, length))
    {
    }
    // The end of input, clean or inside a frame: nothing more can come.
    OnInputEnded();
}

bool CBridgeHost::ReadFrame(CFrameReader& reader, uint32_t length)
{
    bool oversized = length > kMaxMessageBytes;
    if (!oversized && TakeRoom(length))
    {
        std::string payload;
        if (reader.Body(length, payload) != CFrameReader::Read::Frame)
            return false;
        Deliver({false, std::move(payload), BridgeRequest()});
        return true;
    }
    // Not kept: only its id is looked for, so that the answer reaches the caller.
    CRequestIdScanner scanner;
    if (reader.Skip(length, scanner) != CFrameReader::Read::Frame)
        return false;
    BridgeRequest request;
    request.hasId = scanner.Found(request.id);
    if (oversized && TakeRoom(0))
        Deliver({true, std::string(), request});
    else
        // At once, ahead of what waits: the sender learns now that this
        // request was not taken. A browser that does not read its output
        // holds the reader here, and the input with it.
        m_writer.Write(CBridgeMessages::Error(request, CBridgeMessages::kBusy,
                                              "the host is busy: too many requests are waiting"));
    return true;
}

bool CBridgeHost::TakeRoom(size_t bytes)
{
    CLock lock(m_inboxSection);
    if (m_waitingRequests >= kMaxWaitingRequests || bytes > kMaxWaitingBytes - m_waitingBytes)
        return false;
    ++m_waitingRequests;
    m_waitingBytes += bytes;
    return true;
}

void CBridgeHost::Deliver(Incoming incoming)
{
    CLock lock(m_inboxSection);
    m_inbox.push_back(std::move(incoming));
    if (!m_bKickPending)
        m_bKickPending = PostMessageA(m_hWindow, WM_BRIDGE_INBOX, 0, 0) != FALSE;
}

void CBridgeHost::OnInputEnded()
{
    {
        CLock lock(m_inboxSection);
        m_bInputEnded = true;
        if (!m_bKickPending)
            m_bKickPending = PostMessageA(m_hWindow, WM_BRIDGE_INBOX, 0, 0) != FALSE;
    }
    // A request still running (a dialog nobody will answer, a companion
    // being waited for) must not keep the process: the browser counts on its
    // host ending with its input. Programs it started were started outside
    // the browser's job and live on.
    if (WaitForSingleObject(m_hMainThread.Get(), kEndGraceMs) == WAIT_TIMEOUT)
        TerminateProcess(GetCurrentProcess(), 0);
}

LRESULT CALLBACK CBridgeHost::s_WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CBridgeHost* self = reinterpret_cast<CBridgeHost*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self || message != WM_BRIDGE_INBOX)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    try
    {
        self->TakeInbox();
        self->ServeQueue();
    }
    catch (...)
    {
        self->m_writer.Write(CBridgeMessages::Error(BridgeRequest(), CBridgeMessages::kFailed, "out of memory"));
    }
    return 0;
}

void CBridgeHost::TakeInbox()
{
    CLock lock(m_inboxSection);
    m_bKickPending = false;
    while (!m_inbox.empty())
    {
        m_queue.push_back(std::move(m_inbox.front()));
        m_inbox.pop_front();
    }
    if (m_bInputEnded)
        m_bEnded = true;
}

void CBridgeHost::ServeQueue()
{
    // A modal loop inside a request dispatches here: its frames wait. What
    // arrived whole before the input ended is still served (within the
    // grace the reader allows).
    if (m_bBusy)
        return;
    m_bBusy = true;
    while (!m_queue.empty())
    {
        Incoming incoming = std::move(m_queue.front());
        m_queue.pop_front();
        {
            CLock lock(m_inboxSection);
            --m_waitingRequests;
            m_waitingBytes -= incoming.payload.size();
        }
        if (incoming.oversized)
            m_writer.Write(CBridgeMessages::Error(incoming.dropped, CBridgeMessages::kTooLarge,
                                                  "the message is larger than 1 MiB"));
        else
            Serve(incoming.payload);
    }
    m_bBusy = false;
    if (m_bEnded)
        PostQuitMessage(0);
}

void CBridgeHost::Serve(const std::string& payload)
{
    BridgeRequest request;
    BridgeFault fault = {};
    if (!CBridgeMessages::ParseRequest(payload, request, fault))
    {
        m_writer.Write(CBridgeMessages::Error(request, fault.code, fault.message));
        return;
    }
    m_pCurrent = &request;
    HRESULT hr = Guarded([&]() -> HRESULT {
        Dispatch(request);
        return S_OK;
    });
    m_pCurrent = nullptr;
    if (FAILED(hr))
        m_writer.Write(CBridgeMessages::Error(request, CBridgeMessages::kFailed, "the method could not run"));
}

namespace
{
// The page's text as the control would have it from script: the thread's
// code page unless a method says otherwise, and whether that code page holds
// it (the control's own conversion).
NarrowText Narrow(const std::string& utf8, UINT codePage = ThreadAnsiCodePage())
{
    return Utf8ToNarrow(utf8, codePage);
}

// An Info item that is not carried out: the page hears which argument, and
// the End call of the batch declines.
std::string NotHeld(const BridgeRequest& request, const NarrowText& first)
{
    return CBridgeMessages::Error(request, CBridgeMessages::kBadArguments,
                                  std::string("argument ") + (first.held ? "2" : "1") +
                                      " has characters that the code page cannot hold; the batch is not handed off");
}

// A locked build serves only its sites: the page origin the extension
// vouches for must be one of them, by the control's own rule.
bool OriginMayCall(const BridgeRequest& request)
{
    if (!kSiteLockBuilt)
        return true;
    std::wstring origin;
    if (!request.hasOrigin || !Utf8ToWide(request.origin, origin))
        return false;
    return CSiteLock::ForBuild().AllowsUrl(origin);
}
}

void CBridgeHost::Dispatch(const BridgeRequest& request)
{
    const std::string& op = request.op;
    const std::vector<std::string>& a = request.args;
    // Refused as the control refuses a page outside its list: nothing done,
    // false (the web link: "0").
    if (!OriginMayCall(request))
    {
        m_writer.Write(op == "LauncherWebLink" ? CBridgeMessages::Result(request, std::string("0"))
                                               : CBridgeMessages::Result(request, false));
        return;
    }

    bool value = true;
    if (op == "CheckInstall")
        m_control.CheckInstall();
    else if (op == "AllowPopUp")
        value = m_control.AllowPopUp(Narrow(a[0]));
    else if (op == "ShowUpFileDlg")
        m_control.ShowUpFileDlg();
    else if (op == "SelectComplete")
    {
        if (!m_control.SelectComplete(a[0], a[1], a[2]))
        {
            m_writer.Write(CBridgeMessages::Error(request, CBridgeMessages::kTooLarge,
                                                  "the event would be larger than 1 MiB"));
            return;
        }
    }
    else if (op == "UpLoadInit")
        m_control.UpLoadInit();
    else if (op == "UpLoadInfo")
    {
        NarrowText idx = Narrow(a[0]);
        if (!m_control.UpLoadInfo(idx))
        {
            m_writer.Write(NotHeld(request, idx));
            return;
        }
    }
    else if (op == "UpLoadEnd")
        value = m_control.UpLoadEnd(Narrow(a[0]), Narrow(a[1]));
    else if (op == "DownLoadInit")
        m_control.DownLoadInit();
    else if (op == "DownLoadInfo")
    {
        // The path goes to the companion in the system code page, the
        // identifier in the thread's, as the control hands them on.
        NarrowText path = Narrow(a[1], CP_ACP);
        NarrowText idx = Narrow(a[0]);
        if (!m_control.DownLoadInfo(idx, path))
        {
            m_writer.Write(NotHeld(request, idx));
            return;
        }
    }
    else if (op == "DownLoadEnd")
        value = m_control.DownLoadEnd(Narrow(a[0]), Narrow(a[1]), Narrow(a[2]));
    else if (op == "LauncherExplorer")
        value = m_control.LauncherExplorer(Narrow(a[0]), Narrow(a[1]));
    else if (op == "LauncherWebLink")
    {
        bool wentAhead = m_control.LauncherWebLink(Narrow(a[0]), Narrow(a[1]), Narrow(a[2]));
        m_writer.Write(CBridgeMessages::Result(request, std::string(wentAhead ? "1" : "0")));
        return;
    }
    else if (op == "DownLoadSpInit")
        m_control.DownLoadSpInit();
    m_writer.Write(CBridgeMessages::Result(request, value));
}

bool CBridgeHost::SendEvent(const char* name, const std::vector<std::string>& args)
{
    if (!m_pCurrent)
        return false;
    std::string message = CBridgeMessages::Event(*m_pCurrent, name, args);
    if (!m_writer.Fits(message))
        return false;
    m_writer.Write(message);
    return true;
}

void CBridgeHost::s_OnOwnerlessDialog(WORD templateId, bool open)
{
    CBridgeHost* self = g_pHost;
    if (!self || !self->m_pCurrent)
        return;
    const char* name = templateId == IDD_FILEPICKER ? "picker" : templateId == IDD_INSTALL ? "install" : nullptr;
    if (!name)
        return;
    try
    {
        self->m_writer.Write(CBridgeMessages::Dialog(*self->m_pCurrent, name, open));
    }
    catch (...)
    {
        // A notice that cannot be built is left out; the call goes on.
    }
}
