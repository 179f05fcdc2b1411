// CFolderLister: the picker's folder listings, read on a worker thread while
// the picker's thread takes the entries in batches, so the list fills while
// the disk is still being read. The worker lives as long as the lister, so a
// listing starts without waiting for a thread; it touches no window.
#pragma once

#include <windows.h>
#include <atomic>
#include <exception>
#include <string>
#include <vector>

#include "base/Shared.h"
#include "picker/FolderScan.h"

class CFolderLister
{
public:
    CFolderLister();
    // Ends a listing still running, then the worker.
    ~CFolderLister();
    CFolderLister(const CFolderLister&) = delete;
    CFolderLister& operator=(const CFolderLister&) = delete;

    // Starts the worker ahead of the first listing. Without one, listings
    // are read in one piece on the caller's thread.
    void Prepare();
    // Starts listing folder; a listing still running is ended first.
    void Begin(const std::string& folder, UINT codePage);
    // Replaces batch with the entries read since the last call (both kinds,
    // in enumeration order), waiting while none are ready. Answers false once
    // the listing has ended and every entry was taken; rethrows what ended
    // the enumeration early.
    bool Next(std::vector<FolderEntry>& batch);
    // Ends the listing early if it still runs and drops what is left of it.
    void Finish() noexcept;

private:
    static DWORD WINAPI ThreadProc(void* param);
    void Serve();
    void Run(const std::string& folder, UINT codePage);
    // Moves read entries to the taker's side; wakes the taker if it waits.
    void Hand(std::vector<FolderEntry>& read, bool last);

    CCriticalSection m_lock;
    CScopedHandle m_hWork;     // auto-reset; a listing or the end was asked for
    CScopedHandle m_hReady;    // auto-reset; set only for a taker that waits
    CScopedHandle m_hThread;
    std::atomic<bool> m_bStop{false};
    // Guarded by m_lock.
    std::string m_strFolder;
    UINT m_uCodePage = CP_ACP;
    bool m_bAsked = false;     // a listing waits for the worker
    bool m_bQuit = false;
    bool m_bEnded = true;      // no listing runs
    bool m_bWaiting = false;
    std::vector<FolderEntry> m_ready;
    std::vector<FolderEntry> m_tail;   // the last batch, while m_ready is still full
    std::exception_ptr m_failure;
};
