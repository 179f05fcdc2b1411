// The picker's folder listings on a worker thread. The worker hands entries
// over in batches: the first rows reach the list early, and the picker's
// thread is woken once per batch at most.
#include "picker/FolderLister.h"

#include <utility>

namespace
{
const size_t kBatch = 128;
}

CFolderLister::CFolderLister() = default;

CFolderLister::~CFolderLister()
{
    Finish();
    if (m_hThread)
    {
        {
            CLock held(m_lock);
            m_bQuit = true;
        }
        SetEvent(m_hWork.Get());
        WaitForSingleObject(m_hThread.Get(), INFINITE);
    }
}

void CFolderLister::Prepare()
{
    if (m_hThread)
        return;
    m_hWork.Reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    m_hReady.Reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (m_hWork && m_hReady)
        m_hThread.Reset(CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr));
}

void CFolderLister::Begin(const std::string& folder, UINT codePage)
{
    Finish();
    {
        CLock held(m_lock);
        m_ready.clear();
        m_tail.clear();
        m_failure = nullptr;
        m_bEnded = false;
        m_bStop = false;
        if (m_hThread)
        {
            m_strFolder = folder;
            m_uCodePage = codePage;
            m_bAsked = true;
        }
    }
    if (m_hThread)
        SetEvent(m_hWork.Get());
    else
        Run(folder, codePage);
}

DWORD WINAPI CFolderLister::ThreadProc(void* param)
{
    try
    {
        static_cast<CFolderLister*>(param)->Serve();
        return 0;
    }
    catch (...)
    {
        return 1;
    }
}

void CFolderLister::Serve()
{
    for (;;)
    {
        WaitForSingleObject(m_hWork.Get(), INFINITE);
        std::string folder;
        UINT codePage;
        {
            CLock held(m_lock);
            if (m_bQuit)
                return;
            if (!m_bAsked)
                continue;
            m_bAsked = false;
            folder.swap(m_strFolder);   // never allocates
            codePage = m_uCodePage;
        }
        Run(folder, codePage);
    }
}

void CFolderLister::Run(const std::string& folder, UINT codePage)
{
    std::vector<FolderEntry> read;
    try
    {
        if (!folder.empty())
        {
            read.reserve(kBatch);
            EnumerateFolder(folder, codePage, [this, &read](FolderEntry&& entry) {
                read.push_back(std::move(entry));
                if (read.size() >= kBatch)
                    Hand(read, false);
                return !m_bStop;
            });
        }
    }
    catch (...)
    {
        // Rethrown on the taker's thread once what was read so far is taken.
        CLock held(m_lock);
        m_failure = std::current_exception();
    }
    Hand(read, true);
}

void CFolderLister::Hand(std::vector<FolderEntry>& read, bool last)
{
    // Swaps only, so a hand-over never allocates. While the taker is behind,
    // the worker's batch just grows until the next chance.
    bool wake = false;
    {
        CLock held(m_lock);
        if (m_ready.empty())
            m_ready.swap(read);
        else if (last)
            m_tail.swap(read);
        if (last)
            m_bEnded = true;
        wake = m_bWaiting;
        m_bWaiting = false;
    }
    if (wake)
        SetEvent(m_hReady.Get());
}

bool CFolderLister::Next(std::vector<FolderEntry>& batch)
{
    batch.clear();
    CLock held(m_lock);
    while (m_ready.empty() && !m_bEnded)
    {
        m_bWaiting = true;
        m_lock.Leave();
        WaitForSingleObject(m_hReady.Get(), INFINITE);
        m_lock.Enter();
    }
    if (!m_ready.empty())
    {
        batch.swap(m_ready);
        m_ready.swap(m_tail);
        return true;
    }
    if (m_failure)
        std::rethrow_exception(std::exchange(m_failure, nullptr));
    return false;
}

void CFolderLister::Finish() noexcept
{
    m_bStop = true;
    std::vector<FolderEntry> rest;
    for (;;)
    {
        try
        {
            if (!Next(rest))
                return;
        }
        catch (...)
        {
            // What ended a listing nobody reads any more concerns nobody.
        }
    }
}
