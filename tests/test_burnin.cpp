#include "app/frame.h"
#include "app/poll.h"
#include "app/query.h"
#include "common/state.h"
#include "dialogs/line_settings.h"
#include "port/line_control.h"
#include "port/port_record.h"
#include "port/screen_text.h"
#include "port/test_pattern.h"
#include "port/transfer.h"
#include "sim/sim.h"
#include "tests/support.h"
#include "tools/ctl/judge.h"

#include <functional>
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>

static std::string Pattern()
{
    char pattern[TEST_PATTERN_BOUND];
    return std::string(pattern, FillTestPattern(pattern));
}

static const std::string P = Pattern();
// Control bytes, line ends and a near-line, but no complete pattern line.
static const std::string Noise("\x1b[0m\r\nab\r\nabcde\rX\n\xff\x00 \r\n\r\n", 25);

// The line of 33 letters spans offsets 574 to 608; 600 is inside it.
static std::string Flipped(std::string text, size_t at)
{
    text[at] ^= 0x20;
    return text;
}

struct PatternCase {
    const char* name;
    std::string input;
    uint64_t verified, errors, unsynced;
};

// The first complete line (7 bytes of "abcde" CR LF) is only synchronised
// on; after an error the rest of the broken line and the next whole line are.
static const PatternCase PatternCases[] = {
    {"InSync", P + P, 2303, 0, 7},
    {"StartsMidLine", P.substr(3) + P, 2295, 0, 12},
    {"SyncOnLastLine", P.substr(1155 - 48) + P, 1155, 0, 48},
    {"FlippedByte", Flipped(P + P, 600), 593 + 1665, 1, 7 + 9 + 36},
    {"DroppedByte", (P + P).erase(600, 1), 593 + 1665, 1, 7 + 8 + 36},
    {"NoiseBurst", (P + P).insert(600, Noise), 593 + 1665, 1, 7 + Noise.size() + 9 + 36},
    {"TwoFlips", Flipped(Flipped(P + P + P, 600), 1155 + 600), 3465 - 97, 2, 7 + 45 + 45},
    {"NotThePattern", std::string(40, 'x') + "hello world\r\nabcd\r\nabcdeX\r\n", 0, 0, 67},
};

static void PrintTo(const PatternCase& c, std::ostream* out)
{
    *out << c.name;
}

class PatternCheckCases : public testing::TestWithParam<PatternCase>
{
};

TEST_P(PatternCheckCases, CountsTheSameInAnyChunking)
{
    const PatternCase& c = GetParam();
    for (int chunk : {1, 3, 1155, 5000}) {
        PatternCheck check;
        ResetPatternCheck(&check);
        for (size_t at = 0; at < c.input.size(); at += chunk)
            CheckPattern(&check, c.input.data() + at,
                         (int)std::min(c.input.size() - at, (size_t)chunk));
        EXPECT_EQ(check.verified, c.verified) << "chunks of " << chunk;
        EXPECT_EQ(check.errors, c.errors) << "chunks of " << chunk;
        EXPECT_EQ(check.unsynced, c.unsynced) << "chunks of " << chunk;
    }
}

INSTANTIATE_TEST_SUITE_P(Burnin, PatternCheckCases, testing::ValuesIn(PatternCases),
                         [](const testing::TestParamInfo<PatternCase>& info) {
                             return std::string(info.param.name);
                         });

class BurninPorts : public SimTest
{
  protected:
    // At 115200 baud a few simulated seconds carry many pattern lines.
    PortRecord* Open(int number, Sim::Wiring wiring)
    {
        PortRecord* port = SimTest::Open(number, wiring);
        DCB dcb = Sim::CommState(number);
        dcb.BaudRate = 115200;
        Sim::SetCommStateOf(number, dcb);
        EXPECT_TRUE(port);
        return port;
    }
    void Run(int ms)
    {
        for (int t = 0; t < ms; t += 10) {
            PollAllPorts();
            Sim::Advance(10);
        }
    }
};

TEST_F(BurninPorts, CountersFollowWhatWasSentReceivedAndFlagged)
{
    PortRecord* sound = Open(1, Sim::WIRE_LOOPBACK_PLUG);
    PortRecord* faulty = Open(2, Sim::WIRE_LOOPBACK_PLUG);
    Sim::SetLineFault(2, Sim::FAULT_CORRUPT, 3000);
    TestDataOn = 1;
    Run(2000);
    Sim::InjectLineErrors(1, CE_FRAME | CE_OVERRUN);
    TestDataOn = 0;
    Run(1000);
    EXPECT_GT(sound->counters.bytesSent, 10000u);
    EXPECT_EQ(sound->counters.bytesReceived, sound->counters.bytesSent);
    EXPECT_EQ(sound->counters.pattern.verified + 7, sound->counters.bytesSent);
    EXPECT_EQ(sound->counters.pattern.errors, 0u);
    const uint32_t expectedErrors[LINE_ERROR_KINDS] = {0, 1, 0, 0, 1};
    EXPECT_EQ(0, memcmp(sound->counters.lineErrors, expectedErrors, sizeof expectedErrors));
    EXPECT_EQ(faulty->counters.pattern.errors, faulty->counters.bytesReceived / 3000);
    EXPECT_GT(faulty->counters.pattern.errors, 2u);
}

// The demo's timed faults, 2.5 s into the run: COM1's output is held as by
// XOFF, COM2 vanishes; neither shows anything before.
TEST_F(BurninPorts, TimedFaultsBeginAtTheirSecond)
{
    PortRecord* held = Open(1, Sim::WIRE_LOOPBACK_PLUG);
    PortRecord* gone = Open(2, Sim::WIRE_LOOPBACK_PLUG);
    std::string error;
    ASSERT_TRUE(Sim::ApplyFaultList("COM1=held:2.5,COM2=vanish:2.5", &error)) << error;
    TestDataOn = 1;
    const struct {
        int ms;
        DWORD xoffHold;
        bool receiving;
        Texts boxes;
    } moments[] = {{2490, 0, true, {}},
                   {2600, 0x08, true, {"GetCommModemStatus Error:22", "Com Write Error:22"}},
                   {4000, 0x08, false, {"GetCommModemStatus Error:22", "Com Write Error:22"}}};
    int now = 0;
    uint64_t received = 0;
    for (const auto& m : moments) {
        Run(m.ms - now);
        now = m.ms;
        EXPECT_EQ(m.xoffHold, HoldFlags(held->lineStatus) & 0x08) << m.ms;
        EXPECT_EQ(m.receiving, held->counters.bytesReceived > received) << m.ms;
        EXPECT_EQ(m.boxes, boxes.All()) << m.ms;
        EXPECT_EQ(m.xoffHold != 0, Ring(gone).find("<ERR 16H,ClearCommError") != std::string::npos)
            << m.ms;
        received = held->counters.bytesReceived;
    }
    // What was not sent stays queued.
    EXPECT_GT(Sim::OutputQueue(1), 0u);
}

// A bad list is refused whole, with what is wrong.
TEST_F(BurninPorts, BadFaultListsAreRefused)
{
    Sim::AddPorts(1, 2);
    const struct {
        const char* list;
        const char* error;
    } lists[] = {
        {"COM1=held", "\"COM1=held\": give the second it starts at, e.g. held:4.5"},
        {"COM1=held:-1", "\"COM1=held:-1\": give the second it starts at, e.g. held:4.5"},
        {"COM1=vanish:soon", "\"COM1=vanish:soon\": give the second it starts at, e.g. vanish:4.5"},
        {"COM1=vanish:1e3", "\"COM1=vanish:1e3\": give the second it starts at, e.g. vanish:4.5"},
        {"COM1=held:1.2.3", "\"COM1=held:1.2.3\": give the second it starts at, e.g. held:4.5"},
        {"COM1=held:0,COM2=vanish:",
         "\"COM2=vanish:\": give the second it starts at, e.g. vanish:4.5"},
        {"COM1=drop:0", "\"COM1=drop:0\": give one byte in how many, e.g. drop:20000"},
        {"COM1=pulled:3", "\"COM1=pulled:3\": pulled takes no count"},
        {"COM1=stuck:3", "\"stuck\" is not a fault (corrupt, drop, frame, pulled, held, vanish)"},
        {"COM9=held:1", "\"COM9\" is not a port of the adapter"},
    };
    for (const auto& l : lists) {
        std::string error;
        EXPECT_FALSE(Sim::ApplyFaultList(l.list, &error));
        EXPECT_EQ(l.error, error);
    }
    Open(1, Sim::WIRE_LOOPBACK_PLUG);
    EXPECT_EQ(0u, Sim::HoldFlagsOf(1));
}

struct RequestCase {
    const char* name;
    DWORD size; // bytes claimed; the buffer holds one request and no more
    uint32_t version, kind;
    const char* port;
    uint32_t status;
};

static const RequestCase RequestCases[] = {
    {"Status", sizeof(QueryRequest), QUERY_VERSION, QUERY_STATUS, "", QUERY_OK},
    {"StatusFirstVersion", sizeof(QueryRequest), QUERY_VERSION_1, QUERY_STATUS, "", QUERY_OK},
    {"Screen", sizeof(QueryRequest), QUERY_VERSION, QUERY_SCREEN, "com5", QUERY_OK},
    {"ResetAll", sizeof(QueryRequest), QUERY_VERSION_1, QUERY_RESET, "", QUERY_OK},
    {"ResetOne", sizeof(QueryRequest), QUERY_VERSION, QUERY_RESET, "COM5", QUERY_OK},
    {"Empty", 0, QUERY_VERSION, QUERY_STATUS, "", QUERY_BAD_SIZE},
    {"WindowNotNamedInFull", 15, QUERY_VERSION, QUERY_STATUS, "", QUERY_BAD_SIZE},
    {"WindowJustNamed", 16, QUERY_VERSION, QUERY_STATUS, "", QUERY_BAD_SIZE},
    {"Short", sizeof(QueryRequest) - 1, QUERY_VERSION_1, QUERY_STATUS, "", QUERY_BAD_SIZE},
    {"Long", sizeof(QueryRequest) + 1, QUERY_VERSION, QUERY_STATUS, "", QUERY_BAD_SIZE},
    {"Huge", 0x7FFFFFFF, QUERY_VERSION, QUERY_STATUS, "", QUERY_BAD_SIZE},
    {"OldVersion", sizeof(QueryRequest), 0, QUERY_STATUS, "", QUERY_BAD_VERSION},
    {"NewVersion", sizeof(QueryRequest), 3, QUERY_STATUS, "", QUERY_BAD_VERSION},
    {"KindZero", sizeof(QueryRequest), QUERY_VERSION, 0, "", QUERY_BAD_KIND},
    {"KindTooHigh", sizeof(QueryRequest), QUERY_VERSION, 0xFFFFFFFF, "", QUERY_BAD_KIND},
    {"Unterminated", sizeof(QueryRequest), QUERY_VERSION, QUERY_STATUS, nullptr, QUERY_BAD_NAME},
    {"ScreenNoName", sizeof(QueryRequest), QUERY_VERSION, QUERY_SCREEN, "", QUERY_NO_PORT},
    {"ScreenNotOpen", sizeof(QueryRequest), QUERY_VERSION, QUERY_SCREEN, "COM6", QUERY_NO_PORT},
    {"ResetNotOpen", sizeof(QueryRequest), QUERY_VERSION_1, QUERY_RESET, "COM6", QUERY_NO_PORT},
};

static void PrintTo(const RequestCase& c, std::ostream* out)
{
    *out << c.name;
}

class QueryRequests : public BurninPorts, public testing::WithParamInterface<RequestCase>
{
};

TEST_P(QueryRequests, AreAnsweredOrRefusedWithTheirStatus)
{
    const RequestCase& c = GetParam();
    Open(5, Sim::WIRE_LOOPBACK_PLUG)->counters.bytesSent = 99;
    HWND window = CreateReplyWindow();
    QueryRequest request;
    memset(&request, 'A', sizeof request);
    request.version = c.version;
    request.kind = c.kind;
    request.replyWindow = (uint64_t)(UINT_PTR)window;
    if (c.port)
        strcpy(request.port, c.port);
    COPYDATASTRUCT data = {QUERY_REQUEST_ID, c.size, &request};
    QueryRequest parsed;
    EXPECT_EQ(ParseQueryRequest(&data, &parsed), c.status);
    QueryReply.clear();
    // Requests too short to name a window in full cannot be answered.
    EXPECT_EQ(AnswerQuery(nullptr, &data), c.size >= 16 ? TRUE : FALSE);
    if (c.size >= 16) {
        QueryReplyHeader header;
        ASSERT_GE(QueryReply.size(), sizeof header);
        memcpy(&header, QueryReply.data(), sizeof header);
        EXPECT_EQ(header.status, c.status);
        // What could not be read as a request is answered in the first version.
        bool unread = c.status == QUERY_BAD_SIZE || c.status == QUERY_BAD_VERSION;
        EXPECT_EQ(header.version, unread ? 1u : c.version);
        size_t headerSize = header.version == 1 ? 24 : 88;
        EXPECT_EQ(QueryReply.size(), headerSize + (size_t)header.count * header.recordSize);
        EXPECT_EQ(PortListHead->counters.bytesSent, c.kind == QUERY_RESET && !c.status ? 0u : 99u);
    }
    request.replyWindow = 0x1234; // no window: nobody to answer
    data.cbData = sizeof request;
    EXPECT_EQ(AnswerQuery(nullptr, &data), FALSE);
    DestroyWindow(window);
}

INSTANTIATE_TEST_SUITE_P(Burnin, QueryRequests, testing::ValuesIn(RequestCases),
                         [](const testing::TestParamInfo<RequestCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(BurninPorts, RepliesCarryEveryPortAndTheScreenOldestFirst)
{
    Open(3, Sim::WIRE_NONE);
    PortRecord* port = Open(4, Sim::WIRE_NONE);
    for (int i = 0; i < 40; i++)
        AppendText(port, ("line " + std::to_string(i) + "\r\n").c_str(), 0);
    AppendText(port, "\x1b now", 0);
    QueryRequest request = {QUERY_VERSION, QUERY_SCREEN, 0, "COM4"};
    DWORD size = 0;
    char* reply = BuildQueryReply(request, QUERY_OK, &size);
    ASSERT_EQ(size, sizeof(QueryReplyHeader2) + 35 * QUERY_SCREEN_LINE_BYTES);
    const char* lines = reply + sizeof(QueryReplyHeader2);
    EXPECT_STREQ(lines, "line 6");
    EXPECT_STREQ(lines + 33 * QUERY_SCREEN_LINE_BYTES, "line 39");
    EXPECT_STREQ(lines + 34 * QUERY_SCREEN_LINE_BYTES, "<1bH> now");
    delete[] reply;

    request.kind = QUERY_STATUS;
    reply = BuildQueryReply(request, QUERY_OK, &size);
    QueryReplyHeader2 header;
    memcpy(&header, reply, sizeof header);
    ASSERT_EQ(header.head.count, 2u);
    ASSERT_EQ(size, sizeof header + 2 * sizeof(QueryPortStatus2));
    EXPECT_STREQ(((QueryPortStatus2*)(reply + sizeof header))[0].base.name, "COM4");
    EXPECT_STREQ(((QueryPortStatus2*)(reply + sizeof header))[1].base.name, "COM3");
    delete[] reply;
}

// A window whose thread never reads its messages.
static DWORD WINAPI HoldStuckWindow(LPVOID parameter)
{
    HANDLE* events = (HANDLE*)parameter;
    HWND window = CreateWindowExA(0, "STATIC", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  nullptr, nullptr);
    *(HWND*)events[2] = window;
    SetEvent(events[0]);
    WaitForSingleObject(events[1], INFINITE);
    DestroyWindow(window);
    return 0;
}

TEST_F(BurninPorts, StuckReplyWindowsAndFloodsOfRequestsLeaveThePollRunning)
{
    Open(5, Sim::WIRE_LOOPBACK_PLUG);
    HWND answering = CreateReplyWindow(), stuck = nullptr;
    HANDLE events[3] = {CreateEventA(nullptr, TRUE, FALSE, nullptr),
                        CreateEventA(nullptr, TRUE, FALSE, nullptr), (HANDLE)&stuck};
    HANDLE thread = CreateThread(nullptr, 0, HoldStuckWindow, events, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(events[0], 30000), WAIT_OBJECT_0);
    // The simulated clock stands still, so only the requests themselves make
    // the poll due: every fourth answered one, or the next after a dropped reply.
    const struct {
        HWND window;
        int requests;
        uint64_t polls;
        LRESULT delivered;
    } cases[] = {{answering, 40, 9, TRUE}, {stuck, 10, 9, FALSE}};
    for (const auto& c : cases) {
        QueryRequest request = {QUERY_VERSION, QUERY_STATUS, (uint64_t)(UINT_PTR)c.window, ""};
        COPYDATASTRUCT data = {QUERY_REQUEST_ID, sizeof request, &request};
        uint64_t before = PollCount;
        for (int i = 0; i < c.requests; i++)
            EXPECT_EQ(ServeQuery(nullptr, &data), c.delivered);
        EXPECT_GE(PollCount - before, c.polls) << (c.delivered ? "flood" : "stuck window");
    }
    SetEvent(events[1]);
    WaitForSingleObject(thread, 30000);
    CloseHandle(thread);
    CloseHandle(events[0]);
    CloseHandle(events[1]);
    DestroyWindow(answering);
}

// What the replaced GetMessage hands out in turn: -1 a failure, 1 a message
// for the counting window, 0 WM_QUIT with 7.
static const int LoopScript[] = {-1, -1, -1, -1, -1, -1, 1, -1, 1, 0};
static size_t LoopStep = 0;
static int Dispatched = 0;
static HWND Counting = nullptr;

static LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_USER)
        Dispatched++;
    return DefWindowProcA(window, message, wParam, lParam);
}

static BOOL WINAPI ScriptedGetMessage(LPMSG message, HWND, UINT, UINT)
{
    int next = LoopStep < sizeof LoopScript / sizeof LoopScript[0] ? LoopScript[LoopStep++] : 0;
    ZeroMemory(message, sizeof *message);
    message->hwnd = Counting;
    message->message = next ? WM_USER : WM_QUIT;
    message->wParam = 7;
    if (next == -1)
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return next;
}

TEST(MessageLoop, OnlyQuitEndsItAndFailedGetsAreSurvived)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = CountingProc;
    windowClass.lpszClassName = "LoopCounting";
    RegisterClassA(&windowClass);
    Counting = CreateWindowExA(0, "LoopCounting", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               nullptr, nullptr);
    GetMessageFn saved = GetNextMessage;
    GetNextMessage = ScriptedGetMessage;
    EXPECT_EQ(RunMessageLoop(nullptr), 7);
    GetNextMessage = saved;
    EXPECT_EQ(Dispatched, 2);
    EXPECT_EQ(LoopStep, sizeof LoopScript / sizeof LoopScript[0]);
    DestroyWindow(Counting);
}

// A whole burn-in on the simulated adapter, phase by phase through the query,
// judged by the rules tarnwickctl applies.
struct RunPlan {
    const char* name;
    std::function<void(SimTest*)> setup; // after the ports are open
    std::function<void(int ms)> at;      // before each poll, with the run time
    std::vector<const char*> expected;   // per port: "pass", or part of its reason
    DWORD baud = 115200;
    int seconds = 6;
    int pairs = 0;
    int pollMs = 10;
    int snapshotAtMs = 0; // judge then, before the run ends
};

static uint32_t RunPhase(uint32_t phase, uint32_t count, DWORD owner = GetCurrentProcessId())
{
    QueryRunRequest run = {QUERY_VERSION, QUERY_RUN, 0, 1, count, phase, owner};
    COPYDATASTRUCT data = {QUERY_REQUEST_ID, sizeof run, &run};
    QueryRequest parsed;
    uint32_t status = ParseQueryRequest(&data, &parsed);
    DWORD size = 0;
    delete[] BuildQueryReply(parsed, status, &size);
    return status;
}

static void Snapshot(RunView* view)
{
    QueryRequest request = {QUERY_VERSION, QUERY_STATUS, 0, ""};
    DWORD size = 0;
    char* reply = BuildQueryReply(request, QUERY_OK, &size);
    QueryReplyHeader2 header;
    memcpy(&header, reply, sizeof header);
    UpdateRunView(view, header, reply + sizeof header);
    delete[] reply;
}

static void Poll(int ms)
{
    PollAllPorts();
    Sim::Advance(ms);
}

class Verdicts : public SimTest
{
  public:
    std::vector<Verdict> Judge(const RunPlan& plan, int count = 2)
    {
        for (int n = 1; n <= count; n++) {
            if (plan.pairs && n % 2 == 0)
                Sim::ConnectNullModem(n - 1, n);
            PortRecord* port =
                SimTest::Open(n, plan.pairs ? Sim::WIRE_NONE : Sim::WIRE_LOOPBACK_PLUG);
            ReadLineSettings(port);
            port->dcb.BaudRate = plan.baud;
            WriteLineSettings(port);
        }
        if (plan.setup)
            plan.setup(this);
        RunView view;
        StartRunView(&view, 1, count, plan.pairs);
        EXPECT_EQ(RunPhase(RUN_JOIN, count), QUERY_OK);
        // As tarnwickctl does: what was sent before the run arrives first.
        auto busy = [count] {
            for (int n = 1; n <= count; n++)
                if (Sim::OutputQueue(n) + Sim::InputQueue(n))
                    return true;
            return false;
        };
        while (busy())
            Poll(10);
        EXPECT_EQ(RunPhase(RUN_SEND, count), QUERY_OK);
        for (int ms = 0; ms < plan.seconds * 1000; ms += plan.pollMs) {
            if (plan.at)
                plan.at(ms);
            Poll(plan.pollMs);
            Snapshot(&view);
            if (plan.snapshotAtMs && ms + plan.pollMs >= plan.snapshotAtMs) {
                view.facts.endedAt = (ms + plan.pollMs) / 1000.0;
                return JudgeRun(view.last, view.header, view.facts);
            }
        }
        EXPECT_EQ(RunPhase(RUN_STOP, count), QUERY_OK);
        std::vector<QueryPortStatus2> before;
        for (int waited = 0; waited < (int)SettleLimitMs(view.last); waited += 100) {
            before = view.last;
            for (int i = 0; i < 10; i++)
                Poll(10);
            Snapshot(&view);
            if (Settled(before, view))
                break;
        }
        view.facts.complete = 1;
        EXPECT_EQ(RunPhase(RUN_LEAVE, count), QUERY_OK);
        return JudgeRun(view.last, view.header, view.facts);
    }
    void Hold(DWORD ms)
    {
        boxes.onBox = [ms](const ShownBox&) { Sim::Advance(ms); };
    }
    void Check(const RunPlan& plan)
    {
        std::vector<Verdict> verdicts = Judge(plan, (int)plan.expected.size());
        for (size_t i = 0; i < verdicts.size(); i++) {
            std::string expected = plan.expected[i];
            if (expected == "pass") {
                EXPECT_EQ(verdicts[i].state, VERDICT_PASS)
                    << plan.name << " COM" << i + 1 << ": " << verdicts[i].reason;
                continue;
            }
            EXPECT_NE(verdicts[i].reason.find(expected), std::string::npos)
                << plan.name << " COM" << i + 1 << ": " << verdicts[i].reason;
        }
    }
};

static PortRecord* Port(int number)
{
    return FindOpenPort(("COM" + std::to_string(number)).c_str());
}

TEST_F(Verdicts, EachRuleFailsItsPortAndLeavesTheOthers)
{
    const RunPlan plans[] = {
        {"Sound", nullptr, nullptr, {"pass", "pass"}},
        {"HeldOutput",
         [](SimTest*) { Sim::SetTimedFault(1, Sim::FAULT_HELD, Sim::Now() + 2000); },
         nullptr,
         {"output held (XOFF) from 2.0 s", "pass"}},
        {"Vanished",
         [](SimTest*) { Sim::SetTimedFault(1, Sim::FAULT_VANISH, Sim::Now() + 4000); },
         nullptr,
         {"box \"", "pass"}},
        // Longer than the stall limit: the sound port is judged on the time its poll ran.
        {"ABoxHoldsThePollForFourSeconds",
         [](SimTest* test) {
             Sim::SetTimedFault(1, Sim::FAULT_VANISH, Sim::Now() + 4000);
             static_cast<Verdicts*>(test)->Hold(4000);
         },
         nullptr,
         {"at 4.0 s", "pass"}},
        {"Corrupted",
         [](SimTest*) { Sim::SetLineFault(1, Sim::FAULT_CORRUPT, 20000); },
         nullptr,
         {"pattern errors (the first at", "pass"}},
        // A data line stuck: every byte changed, so nothing is ever the pattern.
        {"EveryByteChanged",
         [](SimTest*) { Sim::SetLineFault(1, Sim::FAULT_CORRUPT, 1); },
         nullptr,
         {"received bytes were not the test pattern", "pass"}},
        // A box that is only a note, held 4 s inside the poll, fails nobody.
        {"ANoteHoldsThePoll",
         [](SimTest* test) {
             Sim::FailCall(Sim::CALL_GET_MODEM_STATUS, 50, 1, 1, 200);
             static_cast<Verdicts*>(test)->Hold(4000);
         },
         nullptr,
         {"pass", "pass"}},
        {"FramingErrors",
         [](SimTest*) { Sim::SetLineFault(1, Sim::FAULT_FRAME, 20000); },
         nullptr,
         {"line errors", "pass"}},
        {"Pulled",
         [](SimTest*) { Sim::SetLineFault(2, Sim::FAULT_PULLED); },
         nullptr,
         {"pass", "nothing received"}},
        {"ModemStatusUnreadable",
         [](SimTest*) { Sim::FailCall(Sim::CALL_GET_MODEM_STATUS, 50, -1, 2); },
         nullptr,
         {"pass", "pass"}},
        {"CountersReset",
         nullptr,
         [](int ms) {
             if (ms == 3000) {
                 QueryRequest reset = {QUERY_VERSION, QUERY_RESET, 0, "COM2"};
                 DWORD size = 0;
                 delete[] BuildQueryReply(reset, QUERY_OK, &size);
             }
         },
         {"pass", "counters reset during the run"}},
        {"SettingsChanged",
         nullptr,
         [](int ms) {
             if (ms == 3000) {
                 Port(1)->dcb.BaudRate = 57600;
                 WriteLineSettings(Port(1));
             }
         },
         {"line settings changed during the run", "pass"}},
        {"Closed",
         nullptr,
         [](int ms) {
             if (ms == 3000)
                 delete Port(2);
         },
         {"pass", "closed or vanished at 3.0 s"}},
        {"Snapshot", nullptr, nullptr, {"incomplete at 3.0 s", "incomplete at 3.0 s"}},
        {"SendTestDataWasOn",
         [](SimTest*) {
             TestDataOn = 1;
             for (int ms = 0; ms < 500; ms += 10)
                 Poll(10);
         },
         nullptr,
         {"pass", "pass"}},
        {"LatePolls", nullptr, nullptr, {"pass", "pass"}},
        {"SlowAndShort", nullptr, nullptr, {"pass", "pass"}},
        {"PairPartnerClosed",
         nullptr,
         [](int ms) {
             if (ms == 3000)
                 delete Port(2);
         },
         {"its partner COM2 was gone at 3.0 s", "closed or vanished at 3.0 s"}},
        {"PairHeldOnOneSide",
         [](SimTest*) { Sim::SetTimedFault(1, Sim::FAULT_HELD, Sim::Now() + 2000); },
         nullptr,
         {"output held (XOFF) from 2.0 s", "pass"}},
    };
    for (RunPlan plan : plans) {
        std::string name = plan.name;
        if (name != "Sound") {
            TearDown();
            SetUp();
            boxes.boxes.clear();
        }
        if (name == "Snapshot")
            plan.snapshotAtMs = 3000;
        if (name == "LatePolls")
            plan.pollMs = 35, plan.baud = 921600;
        if (name == "SlowAndShort")
            plan.baud = 1200, plan.seconds = 10;
        if (name.compare(0, 4, "Pair") == 0)
            plan.pairs = 1;
        SetUp();
        Check(plan);
        if (name == "ModemStatusUnreadable") {
            EXPECT_EQ(boxes.All(), Texts{"GetCommModemStatus Error:50"});
        }
    }
}

TEST_F(Verdicts, SoundPortsPassAtEveryRateOfTheList)
{
    for (int i = 0; BaudRateList[i]; i++) {
        if (i) {
            TearDown();
            SetUp();
        }
        RunPlan plan;
        plan.name = "EveryRate";
        plan.baud = BaudRateList[i];
        plan.seconds = 60;
        plan.expected = {"pass", "pass"};
        SCOPED_TRACE(plan.baud);
        Check(plan);
    }
}

// A client that is still alive, standing for another burn-in.
static PROCESS_INFORMATION StartIdleProcess()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string line = std::string("\"") + path + "\" --gtest_list_tests";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                   &startup, &process);
    return process;
}

TEST_F(Verdicts, OneRunAtATimeAndARunWhoseClientDiedEnds)
{
    Open(1, Sim::WIRE_LOOPBACK_PLUG);
    PROCESS_INFORMATION other = StartIdleProcess();
    ASSERT_TRUE(other.hProcess);
    EXPECT_EQ(RunPhase(RUN_JOIN, 1, other.dwProcessId), QUERY_OK);
    EXPECT_EQ(RunPhase(RUN_SEND, 1, other.dwProcessId), QUERY_OK);
    EXPECT_EQ(RunPhase(RUN_JOIN, 1), QUERY_RUN_BUSY);
    EXPECT_EQ(RunPhase(RUN_STOP, 1), QUERY_RUN_BUSY);
    Poll(1000);
    EXPECT_TRUE(PortListHead->run.sending);
    TerminateProcess(other.hProcess, 1);
    WaitForSingleObject(other.hProcess, 30000);
    CloseHandle(other.hThread);
    CloseHandle(other.hProcess);
    Poll(1000);
    Poll(10);
    EXPECT_FALSE(PortListHead->run.inRun);
    // A client that missed a reply sends the phase again; the run stays as it was.
    EXPECT_EQ(RunPhase(RUN_JOIN, 1), QUERY_OK);
    EXPECT_EQ(RunPhase(RUN_SEND, 1), QUERY_OK);
    Poll(500);
    uint64_t sent = PortListHead->counters.bytesSent;
    EXPECT_EQ(RunPhase(RUN_SEND, 1), QUERY_OK);
    EXPECT_EQ(PortListHead->counters.bytesSent, sent);
    EXPECT_EQ(RunPhase(RUN_LEAVE, 1), QUERY_OK);
    EXPECT_EQ(RunPhase(RUN_LEAVE, 1), QUERY_OK);
    EXPECT_EQ(RunPhase(RUN_JOIN, 1), QUERY_OK);
    EXPECT_EQ(RunPhase(RUN_JOIN, 2), QUERY_NO_PORT);
    EXPECT_EQ(RunPhase(RUN_JOIN, 256), QUERY_BAD_RUN);
    EXPECT_EQ(RunPhase(RUN_LEAVE, 1), QUERY_OK);
}
