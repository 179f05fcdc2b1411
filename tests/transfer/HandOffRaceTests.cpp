// Two pages ending their batches at the same moment, in rounds: two controls
// (each in a process of its own, this program started again), two bridge
// hosts, and one of each. The reference upload companion is installed and not
// running, so both find no window; exactly one program must start, and it
// must read each page's job exactly once.
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "FakeBrowser.h"
#include "companion/CompanionFixture.h"
#include "harness/TestHarness.h"
#include "transfer/TransferTestSupport.h"

using namespace CompanionFixture;
using nlohmann::json;

namespace
{
const DWORD kStartMs = 90000;   // a cold Wine start under qemu is slow
const DWORD kEndMs = 90000;     // a hand-off that starts the companion and waits for it

std::string EventName(const char* what, int round, int index)
{
    return std::string("TavrineRace") + what + "-" + std::to_string(round) + "-" + std::to_string(index);
}

std::string JobOf(char kind, int round, int index)
{
    return std::string("race-") + kind + "-" + std::to_string(round) + "-" + std::to_string(index);
}

// The racer side of a control: its batch, then UpLoadEnd at the signal.
// Exit code 0 when the job was handed off, 1 when declined, 2 when it could
// not take part.
int RunControlRacer(int round, int index)
{
    CComApartment com;
    CIfacePtr<IVedADA> control = CreateControl();
    if (!control)
        return 2;
    control->UpLoadInit();
    control->UpLoadInfo(CBstr(NarrowToWide(JobOf('c', round, index), CP_ACP).c_str()).Get());
    CScopedHandle ready(OpenEventA(EVENT_MODIFY_STATE, FALSE, EventName("Ready", round, index).c_str()));
    CScopedHandle go(OpenEventA(SYNCHRONIZE, FALSE, EventName("Go", round, 0).c_str()));
    if (!ready || !go)
        return 2;
    SetEvent(ready.Get());
    if (WaitForSingleObject(go.Get(), kStartMs) != WAIT_OBJECT_0)
        return 2;
    std::wstring user = L"user" + std::to_wstring(index), password = L"pw" + std::to_wstring(index);
    HRESULT hr = control->UpLoadEnd(CBstr(user.c_str()).Get(), CBstr(password.c_str()).Get());
    return hr == S_OK ? 0 : 1;
}

// One page of a round.
class CRacer
{
public:
    virtual ~CRacer() = default;
    // Has its batch and waits for the signal; false when it could not start.
    virtual bool Prepare(int round, int index) = 0;
    // Ends the batch now (a control waits for the round's event instead).
    virtual void Fire() {}
    // Whether the job was handed off.
    virtual bool HandedOff() = 0;
    virtual char Kind() const = 0;
};

class CControlRacer : public CRacer
{
public:
    bool Prepare(int round, int index) override
    {
        CScopedHandle ready(CreateEventA(nullptr, TRUE, FALSE, EventName("Ready", round, index).c_str()));
        char self[MAX_PATH] = "";
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        std::string commandLine = "\"" + std::string(self) + "\" --racer " + std::to_string(round) + " " +
                                  std::to_string(index);
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (!ready || !CreateProcessA(self, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                      &info))
            return false;
        CloseHandle(info.hThread);
        m_hProcess.Reset(info.hProcess);
        HANDLE waits[2] = {ready.Get(), info.hProcess};
        return WaitForMultipleObjects(2, waits, FALSE, kStartMs) == WAIT_OBJECT_0;
    }
    bool HandedOff() override
    {
        DWORD code = 3;
        if (WaitForSingleObject(m_hProcess.Get(), kEndMs) == WAIT_OBJECT_0)
            GetExitCodeProcess(m_hProcess.Get(), &code);
        trace("control racer ended with %lu\n", code);
        return code == 0;
    }
    char Kind() const override { return 'c'; }

private:
    CScopedHandle m_hProcess;
};

class CBridgeRacer : public CRacer
{
public:
    bool Prepare(int round, int index) override
    {
        m_index = index;
        std::string host = WindowsPathOf(EnvOr("TAVRINE_BUILD_DIR")) + "\\bridge\\TavrineBridge.exe";
        json hello;
        if (!m_browser.Start(host, "chrome-extension://" TAVRINE_TEST_CHROME_ID "/ --parent-window=0") ||
            !m_browser.Receive(hello, kStartMs))
            return false;
        return m_browser.Call(1, "UpLoadInit", {}, kStartMs).size() == 1 &&
               m_browser.Call(2, "UpLoadInfo", {JobOf('b', round, index)}).size() == 1;
    }
    void Fire() override
    {
        std::string i = std::to_string(m_index);
        m_browser.Send(json{{"id", 3}, {"op", "UpLoadEnd"}, {"args", {"user" + i, "pw" + i}}});
    }
    bool HandedOff() override
    {
        std::vector<json> got;
        bool answered = m_browser.Answers(3, got, kEndMs);
        trace("bridge racer answered %s\n", json(got).dump().c_str());
        bool handed = answered && !got.empty() && got.back() == json{{"type", "result"}, {"id", 3}, {"value", true}};
        m_browser.CloseInput();
        m_browser.WaitExit(10000);
        return handed;
    }
    char Kind() const override { return 'b'; }

private:
    CFakeBrowser m_browser;
    int m_index = 0;
};

// The process id a companion's log line names ("<program> <pid> <event> ...").
std::string PidOf(const std::string& line)
{
    size_t first = line.find(' ');
    size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
    return second == std::string::npos ? std::string() : line.substr(first + 1, second - first - 1);
}

void RaceRounds(const char* what, const char* kinds, int rounds)
{
    if (!Install())
    {
        ok(false, "the companion program could not be installed in %s\n", InstallDir().c_str());
        return;
    }
    // A companion window of another class passes the install check at once.
    CFakeCompanion explorer("tavrine_class_explorer");
    for (int round = 0; round < rounds; ++round)
    {
        ok(CloseEverything(), "%s round %d: companions of the last round are still running\n", what, round);
        std::string log = UseFreshLog((std::string("race-") + kinds + std::to_string(round)).c_str());
        DeleteFileA(UpListFile().c_str());
        CScopedHandle go(CreateEventA(nullptr, TRUE, FALSE, EventName("Go", round, 0).c_str()));
        std::vector<std::unique_ptr<CRacer>> racers;
        bool prepared = true;
        for (int index = 0; index < 2; ++index)
        {
            if (kinds[index] == 'c')
                racers.emplace_back(new CControlRacer());
            else
                racers.emplace_back(new CBridgeRacer());
            prepared = racers.back()->Prepare(round, index) && prepared;
        }
        ok(prepared, "%s round %d: both pages have their batch\n", what, round);
        if (!prepared)
        {
            // Let a racer that did start end its call, then leave nothing running.
            SetEvent(go.Get());
            for (auto& racer : racers)
                racer->HandedOff();
            break;
        }
        for (auto& racer : racers)
            racer->Fire();
        SetEvent(go.Get());
        for (size_t index = 0; index < racers.size(); ++index)
            ok(racers[index]->HandedOff(), "%s round %d: page %u's job was not handed off\n", what, round,
               static_cast<unsigned>(index));

        std::vector<std::string> starts = FindLines(log, {"TavrineUp.exe ", " args command=bbs "});
        ok(starts.size() == 1, "%s round %d: %u upload programs started\n", what, round,
           static_cast<unsigned>(starts.size()));
        std::string starter = starts.empty() ? std::string() : PidOf(starts[0]);
        for (int index = 0; index < 2; ++index)
        {
            std::string job = JobOf(racers[index]->Kind(), round, index);
            WaitForLines(log, {"TavrineUp.exe ", " record source=", " text=" + job});
        }
        Sleep(1000);   // time to read a record twice, had it been handed over twice
        for (int index = 0; index < 2; ++index)
        {
            std::string job = JobOf(racers[index]->Kind(), round, index);
            std::vector<std::string> reads = FindLines(log, {"TavrineUp.exe ", " record source=", " text=" + job});
            ok(reads.size() == 1, "%s round %d: job %s was read %u times\n", what, round, job.c_str(),
               static_cast<unsigned>(reads.size()));
            for (const std::string& line : reads)
                ok(PidOf(line) == starter, "%s round %d: job %s read by %s, not by the program started (%s)\n",
                   what, round, job.c_str(), PidOf(line).c_str(), starter.c_str());
        }
        ok(FindLines(log, {" bad "}).empty(), "%s round %d: a malformed record\n", what, round);
    }
    CloseEverything();
    DeleteFileA(UpListFile().c_str());
}
}

static void test_two_controls()
{
    RaceRounds("two controls", "cc", 3);
}

static void test_two_bridge_hosts()
{
    RaceRounds("two bridge hosts", "bb", 2);
}

static void test_control_and_bridge_host()
{
    RaceRounds("a control and a bridge host", "cb", 2);
}

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--racer")
        return RunControlRacer(std::atoi(argv[2]), std::atoi(argv[3]));
    static const TestEntry tests[] = {TEST(test_two_controls), TEST(test_two_bridge_hosts),
                                      TEST(test_control_and_bridge_host)};
    return RunTests(tests, sizeof(tests) / sizeof(tests[0]), argc, argv);
}
