// The port engine on the simulated adapter: opening, overlapped transfers,
// line and modem status, the loopback switch and the poll cycle.
#include "app/poll.h"
#include "port/line_control.h"
#include "port/loopback.h"
#include "port/status.h"
#include "port/test_pattern.h"
#include "tests/support.h"
#include "view/paint.h"

#include <string.h>

typedef SimTest Transfer;

static std::string Line(int number)
{
    Sim::Advance(2000);
    return Sim::PeerTake(number);
}

TEST_F(Transfer, FailedOpensShowTheCodeAndNameAndTouchNothing)
{
    PortRecord* first = Open(5);
    const struct {
        const char* name;
        Sim::Call fail;
        const char* shown;
        int creates;
    } cases[] = {
        {"COM9", Sim::CALL_COUNT, "Error from CreateFile: 2 COM9 0", 1},
        {"COM6", Sim::CALL_CREATE_FILE, "Error from CreateFile: 5 COM6 0", 1},
        {"COM5", Sim::CALL_COUNT, "Error from CreateFile: 5 COM5 0", 0}, // already open
        {"com5", Sim::CALL_COUNT, "Error from CreateFile: 5 com5 0", 0},
    };
    Sim::AddPort(6);
    FrameWindow = (HWND)0x1234; // the owner of every transfer box
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.boxes.clear();
        Sim::FailCall(c.fail, ERROR_ACCESS_DENIED);
        int creates = Sim::CallCount(Sim::CALL_CREATE_FILE);
        PortRecord second;
        EXPECT_EQ(1, OpenPort(&second, c.name));
        EXPECT_EQ(Texts{c.shown}, boxes.All());
        EXPECT_EQ((HWND)0x1234, boxes.boxes[0].owner);
        EXPECT_EQ("(null)", boxes.boxes[0].caption);
        EXPECT_EQ((UINT)MB_ICONQUESTION, boxes.boxes[0].style);
        EXPECT_EQ(creates + c.creates, Sim::CallCount(Sim::CALL_CREATE_FILE));
        EXPECT_EQ(nullptr, second.device);
        EXPECT_EQ(first, PortListHead);
        EXPECT_EQ(nullptr, first->next);
        Sim::ClearFaults();
    }
    FrameWindow = nullptr;
    EXPECT_FALSE(Sim::IsOpen(6));
}

TEST_F(Transfer, EachFailedEventHasItsBoxAndThePortStillOpens)
{
    const char* expected[] = {"Error A CreateEvent0", "Error B CreateEvent0",
                              "Error C CreateEvent0"};
    for (int k = 0; k < 3; k++) {
        boxes.boxes.clear();
        Sim::FailCall(Sim::CALL_CREATE_EVENT, ERROR_NOT_ENOUGH_MEMORY, 1, 0, k);
        PortRecord* p = Open(5);
        EXPECT_EQ(Texts{expected[k]}, boxes.All());
        ASSERT_EQ(p, PortListHead);
        delete p;
    }
}

TEST_F(Transfer, OpenLinksNewestFirstAndCloseReleasesEverything)
{
    PortRecord* p5 = Open(5);
    PortRecord* p6 = Open(6);
    ASSERT_EQ(p6, PortListHead);
    EXPECT_EQ(p5, p6->next);
    EXPECT_EQ(8, Sim::OpenHandles());
    delete p6;
    EXPECT_EQ(p5, PortListHead);
    EXPECT_EQ(4, Sim::OpenHandles());
    EXPECT_EQ((std::vector<DWORD>{PURGE_TXABORT, PURGE_RXABORT}), Sim::Purges(6));
    {
        PortRecord unopened; // no device: no device calls
    }
    EXPECT_EQ(2, Sim::CallCount(Sim::CALL_PURGE));
    delete p5;
    EXPECT_EQ(0, Sim::OpenHandles());
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Transfer, WritesSendTheirBytesAndWaitForTheOneBefore)
{
    PortRecord* p = Open(5);
    WritePort(p, "AT", 0); // length 0: the string without its terminator
    Sim::NextWritePending(5, 100);
    char key[4] = "abc";
    EXPECT_EQ(0, WritePort(p, key, 3));
    strcpy(key, "XYZ"); // the caller reuses its bytes at once
    EXPECT_EQ(1, p->writePending);
    ULONGLONG issued = Sim::Now();
    WritePort(p, "two", 3);
    EXPECT_GE(Sim::Now(), issued + 100);
    EXPECT_LT(Sim::Now(), issued + WRITE_WAIT_MS);
    EXPECT_EQ(0, p->writePending);
    EXPECT_EQ("ATabctwo", Line(5));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Transfer, OutputThatStaysHeldTimesOutOncePerWrite)
{
    PortRecord* p = Open(5);
    DCB dcb = Sim::CommState(5);
    dcb.fOutxCtsFlow = TRUE; // and CTS is off
    Sim::SetCommStateOf(5, dcb);
    std::string block(2000, 'h');
    for (int i = 0; i < 4; i++)
        WritePort(p, block.data(), (DWORD)block.size());
    EXPECT_EQ(4, Sim::CallCount(Sim::CALL_WRITE_FILE));
    EXPECT_EQ(Texts(3, "ComOut Pending Failed, stat:258"), boxes.All());
    EXPECT_EQ("", Sim::PeerTake(5));
}

TEST_F(Transfer, WriteFailures)
{
    const struct {
        Sim::Call call;
        DWORD code;
        bool pendingFirst;
        const char* shown;
    } cases[] = {
        {Sim::CALL_WAIT, ERROR_INVALID_HANDLE, true, "ComOut Pending Failed, stat:-1"},
        {Sim::CALL_GET_OVERLAPPED_RESULT, ERROR_IO_INCOMPLETE, true,
         "Timeout Comout GetOverLappedResult:996"},
        {Sim::CALL_GET_OVERLAPPED_RESULT, ERROR_BAD_COMMAND, true,
         "Error Comout GetOverLappedResult:22"},
        {Sim::CALL_WRITE_FILE, ERROR_INVALID_PARAMETER, false, "Com Write Error:87"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        boxes.boxes.clear();
        PortRecord* p = Open(5);
        if (c.pendingFirst) {
            Sim::NextWritePending(5, 100);
            WritePort(p, "a", 1);
        }
        Sim::FailCall(c.call, c.code);
        WritePort(p, "b", 1);
        EXPECT_EQ(Texts{c.shown}, boxes.All());
        EXPECT_EQ(0, p->writePending);
        delete p;
        EXPECT_EQ(0, Sim::OpenHandles());
        Sim::ClearFaults();
    }
}

TEST_F(Transfer, AbandonedWritesLiveUntilTheyCompleteAndAreFreedThen)
{
    PortRecord* p = Open(5);
    int open = Sim::OpenHandles();
    Sim::NextWritePending(5, WRITE_WAIT_MS + 4000);
    WritePort(p, "first", 0);
    // A write issued from inside the time-out box is kept until done, too.
    boxes.onBox = [&](const ShownBox&) {
        boxes.onBox = nullptr;
        Sim::NextWritePending(5, 500);
        WritePort(p, "inside", 0);
    };
    WritePort(p, "second", 0);
    EXPECT_EQ(Texts{"ComOut Pending Failed, stat:258"}, boxes.All());
    EXPECT_GE(Sim::OpenHandles(), open + 1);
    Sim::Advance(10000);
    WritePort(p, "third", 0);
    WritePort(p, "", 0);
    EXPECT_EQ(open, Sim::OpenHandles());
    std::string line = Line(5);
    EXPECT_EQ(22u, line.size()); // the device may finish the abandoned one late
    for (const char* part : {"first", "inside", "second", "third"})
        EXPECT_NE(std::string::npos, line.find(part)) << part;
}

TEST_F(Transfer, ClosingWithRequestsOutstandingAbortsAndFreesThem)
{
    for (bool insideBox : {false, true}) {
        PortRecord* p = Open(5);
        Sim::NextWritePending(5, INFINITE);
        WritePort(p, "a", 1);
        Sim::NextReadPending(5, 5, INFINITE);
        char buffer[8];
        DWORD count = 0;
        EXPECT_EQ(1, ReadPort(p, buffer, 5, &count));
        if (insideBox) { // the time-out box of the next write closes the port
            boxes.onBox = [&](const ShownBox&) { delete p; };
            WritePort(p, "b", 1);
            EXPECT_EQ(1, Sim::CallCount(Sim::CALL_WRITE_FILE, 5));
        } else {
            delete p;
        }
        EXPECT_EQ(0, Sim::OpenHandles());
        EXPECT_EQ(0, Sim::OutstandingRequests(5));
        Sim::Reset();
    }
}

TEST_F(Transfer, ReadOutcomes)
{
    const int KEPT = 99; // the call leaves the count alone
    const struct {
        void (*arrange)();
        int result, count;
        const char *data, *shown;
    } cases[] = {
        {[] { Sim::PeerSend(5, "hello", 5); }, 0, 5, "hello", nullptr},
        {[] {
             Sim::PeerSend(5, "hello", 5);
             Sim::NextReadShort(5, 3);
         },
         0, 3, "hel", "ComRead Error B Bytes, got: 3 ,Wanted: 5"},
        {[] { Sim::FailCall(Sim::CALL_READ_FILE, ERROR_BAD_COMMAND); }, 1, KEPT, "",
         "Error On Read!: 22 ,Wanted: 5"},
        {[] { Sim::NextReadPending(5, 5, 200); }, 0, 5, "xxxxx", nullptr},
        {[] { Sim::NextReadPending(5, 3, 200); }, 0, 3, "xxx", "ComRead Bytes, got: 3 ,Wanted: 5"},
        {[] { Sim::NextReadPending(5, 0, 200); }, 1, 0, "", "ComRead Bytes, got: 0 ,Wanted: 5"},
        {[] {
             Sim::NextReadPending(5, 5, 200);
             Sim::FailCall(Sim::CALL_WAIT, ERROR_INVALID_HANDLE);
         },
         1, 0, "", "ComIn Pending Failed!: -1 ,Wanted: 5"},
        {[] { Sim::NextReadPending(5, 5, INFINITE); }, 1, 0, "",
         "ComIn Pending Failed!: 258 ,Wanted: 5"},
        {[] {
             Sim::NextReadPending(5, 5, 200);
             Sim::FailCall(Sim::CALL_GET_OVERLAPPED_RESULT, ERROR_IO_INCOMPLETE);
         },
         1, KEPT, "", "Timeout Comin GetOverLappedResult:996"},
        {[] {
             Sim::NextReadPending(5, 5, 200);
             Sim::FailCall(Sim::CALL_GET_OVERLAPPED_RESULT, ERROR_BAD_COMMAND);
         },
         1, KEPT, "", "Error Comin GetOverLappedResult:22"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown ? c.shown : c.data);
        boxes.boxes.clear();
        PortRecord* p = Open(5);
        c.arrange();
        char buffer[8] = {0};
        DWORD count = KEPT;
        ULONGLONG issued = Sim::Now();
        EXPECT_EQ(c.result, ReadPort(p, buffer, 5, &count));
        EXPECT_EQ((DWORD)c.count, count);
        EXPECT_EQ(std::string(c.data), buffer);
        EXPECT_EQ(c.shown ? Texts{c.shown} : Texts{}, boxes.All());
        if (strstr(c.shown ? c.shown : "", ": 258")) {
            EXPECT_EQ(issued + READ_WAIT_MS, Sim::Now()); // the whole wait
        }
        delete p;
        Sim::Reset();
    }
}

TEST_F(Transfer, AnAbandonedReadCompletesLaterIntoItsOwnMemory)
{
    PortRecord* p = Open(5);
    int open = Sim::OpenHandles();
    HANDLE portEvent = p->readBlock.hEvent;
    Sim::NextReadPending(5, 5, READ_WAIT_MS + 10000);
    char first[8], second[8] = {0};
    memset(first, '#', sizeof first);
    DWORD count = 0;
    EXPECT_EQ(1, ReadPort(p, first, 5, &count));
    EXPECT_EQ(open + 1, Sim::OpenHandles()); // it keeps the event; the port has a fresh one
    EXPECT_NE(portEvent, p->readBlock.hEvent);
    Sim::NextReadPending(5, 5, 100);
    Sim::PeerSend(5, "fresh", 5);
    EXPECT_EQ(0, ReadPort(p, second, 5, &count));
    Sim::Advance(20000);
    EXPECT_EQ(std::string(8, '#'), std::string(first, 8));
    EXPECT_STREQ("fresh", second);
    Sim::PeerSend(5, "later", 5);
    EXPECT_EQ(0, ReadPort(p, second, 5, &count));
    EXPECT_STREQ("later", second);
    EXPECT_EQ(open, Sim::OpenHandles());
    EXPECT_EQ(1u, boxes.boxes.size());
}

TEST_F(Transfer, ARequestTheDeviceStillHoldsAfterCloseIsNeverFreed)
{
    PortRecord* p = Open(5);
    Sim::NextReadPending(5, 5, READ_WAIT_MS + 5000);
    char buffer[8];
    DWORD count = 0;
    EXPECT_EQ(1, ReadPort(p, buffer, 5, &count));
    Sim::HoldRequests(5);
    delete p;
    EXPECT_EQ(1, Sim::OpenHandles()); // the request's event, with its memory
    Sim::Advance(10000);              // lands in memory still allocated for it
}

TEST(Platform, ReportedFamilyOrNtWhenTheQueryFails)
{
    VersionQueryFn saved = VersionQuery;
    VersionQuery = [](LPOSVERSIONINFOA info) -> BOOL {
        info->dwPlatformId = info->dwOSVersionInfoSize == 148 ? VER_PLATFORM_WIN32_WINDOWS : 0;
        return TRUE;
    };
    DeterminePlatform();
    EXPECT_EQ(VER_PLATFORM_WIN32_WINDOWS, PlatformId);
    VersionQuery = [](LPOSVERSIONINFOA) -> BOOL { return FALSE; };
    DeterminePlatform();
    EXPECT_EQ(VER_PLATFORM_WIN32_NT, PlatformId);
    VersionQuery = saved;
}

// --- line and modem status ---

typedef SimTest Status;

static QueueCounts PollStatus(PortRecord* port)
{
    QueueCounts counts = {12345, 12345};
    EXPECT_EQ(0, PollLineStatus(port, &counts));
    return counts;
}

TEST_F(Status, CountsErrorMarkersAndHolds)
{
    PortRecord* p = Open(5);
    Sim::PeerSend(5, "twelve bytes", 12);
    std::string block(300, 'o');
    WritePort(p, block.data(), (DWORD)block.size());
    p->paintedStatus.holdFlags = Sim::HoldFlagsOf(5);
    p->windowDirty = 0;
    Sim::InjectLineErrors(5, 0x0020); // no marker for it
    QueueCounts counts = PollStatus(p);
    EXPECT_EQ(12u, counts.inQueue);
    EXPECT_EQ(Sim::OutputQueue(5), counts.outQueue);
    EXPECT_GT(counts.outQueue, 0u);
    EXPECT_EQ(0, p->windowDirty);
    Sim::InjectLineErrors(5, CE_BREAK | CE_FRAME | CE_IOE | CE_MODE | CE_OVERRUN | CE_RXOVER |
                                 CE_RXPARITY | CE_TXFULL | CE_DNS | CE_PTO | CE_OOP);
    PollStatus(p);
    PollStatus(p); // reported once
    EXPECT_EQ("<ERR:BREAK><ERR:FRAME><ERR:IOE><ERR:MODE><ERR:OVERRUN><ERR:RXOVER>"
              "<ERR:RXPARITY><ERR:TXFULL><ERR:DNS><ERR:PTO><ERR:OOP>",
              std::string(p->lines[0].text) + p->lines[1].text);
    ClearScreen(p);
    p->windowDirty = 0;
    DriveLine(p, SETXOFF); // a hold change alone marks the window
    PollStatus(p);
    EXPECT_EQ(1, p->windowDirty);
    EXPECT_EQ(Sim::HoldFlagsOf(5), HoldFlags(p->lineStatus));
    EXPECT_STREQ("", p->lines[0].text);
    Sim::FailCall(Sim::CALL_CLEAR_COMM_ERROR, ERROR_INVALID_HANDLE);
    counts = PollStatus(p);
    EXPECT_EQ(0u, counts.outQueue + counts.inQueue);
    char expected[100];
    snprintf(expected, sizeof expected, "<ERR 6H,ClearCommError, COM5, handle:%x>",
             (unsigned)(UINT_PTR)p->device);
    EXPECT_STREQ(expected, p->lines[0].text);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Status, ModemInputsAndOneBoxPerRunOfFailuresPerPort)
{
    PortRecord *p = Open(5), *other = Open(6);
    const DWORD inputs[] = {MS_CTS_ON | MS_RLSD_ON, MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON,
                            MS_DSR_ON | MS_RING_ON};
    for (DWORD bits : inputs) {
        Sim::SetPeerSignals(5, bits);
        EXPECT_EQ(0, PollModemStatus(p));
        EXPECT_EQ(bits, p->inputSignals);
    }
    for (DWORD code : {ERROR_BAD_COMMAND, ERROR_BAD_COMMAND, ERROR_NOT_READY}) {
        Sim::FailCall(Sim::CALL_GET_MODEM_STATUS, code, -1);
        for (int i = 0; i < 3; i++) {
            PollModemStatus(p);
            PollModemStatus(other);
        }
        EXPECT_EQ(0, p->inputSignals);
        Sim::ClearFaults();
        if (code == ERROR_BAD_COMMAND)
            PollModemStatus(p); // a success ends the run on this port only
    }
    // Each port's first run, this port's second, then both with a new code.
    EXPECT_EQ((Texts{"GetCommModemStatus Error:22", "GetCommModemStatus Error:22",
                     "GetCommModemStatus Error:22", "GetCommModemStatus Error:21",
                     "GetCommModemStatus Error:21"}),
              boxes.All());
}

// --- the driver's loopback switch ---

TEST_F(SimTest, LoopbackProbeAndSwitchPerPlatformAndAnswer)
{
    const struct {
        LONG platform;
        BOOL answer;
        int lamps;
        std::vector<DWORD> codes, escapes;
    } cases[] = {
        {VER_PLATFORM_WIN32_NT, 1, 7, {0x1B2018, 0x1B2014, 0x1B2018}, {}},
        {VER_PLATFORM_WIN32_NT, 0, 6, {0x1B2018, 0x1B2014, 0x1B2018}, {}},
        {VER_PLATFORM_WIN32_NT, 2, 6, {0x1B2018, 0x1B2014, 0x1B2018}, {}},
        {VER_PLATFORM_WIN32_WINDOWS, 1, 7, {}, {15649, 15648, 15649}},
    };
    for (const auto& c : cases) {
        Sim::Reset();
        Sim::StartCallLog();
        PlatformId = c.platform;
        Sim::AddPort(5);
        Sim::SetLoopbackAnswer(5, c.answer);
        PortRecord* p = Open(5);
        EXPECT_EQ(c.lamps, p->signalLampCount);
        EXPECT_EQ(c.lamps == 7, p->loopbackCapable);
        EXPECT_FALSE(Sim::LoopbackOn(5));
        SetLoopback(p, 1);
        EXPECT_EQ(c.answer != 0, Sim::LoopbackOn(5));
        EXPECT_EQ(SIGNAL_DTR | SIGNAL_RTS | SIGNAL_LOOP, p->outputSignals); // whatever it said
        SetLoopback(p, 0);
        EXPECT_EQ(SIGNAL_DTR | SIGNAL_RTS, p->outputSignals);
        EXPECT_EQ(c.codes, Logged(Sim::CALL_DEVICE_IO_CONTROL));
        EXPECT_EQ(c.escapes, Sim::Escapes(5));
        delete p;
    }
    EXPECT_TRUE(boxes.boxes.empty());
}

// --- the poll cycle ---

class Poll : public SimTest
{
  protected:
    void SetUp() override
    {
        SimTest::SetUp();
        LayoutLampRows();
        Sim::StartCallLog();
    }
    void TearDown() override
    {
        SimTest::TearDown();
        if (window)
            DestroyWindow(window);
    }
    void Show(PortRecord* port, int height)
    {
        port->window = window = OpenPlainWindow(height);
        port->clientWidth = 640;
        port->clientHeight = height;
    }
    static bool LampLit(HWND w, int lamp)
    {
        return PixelAt(w, SignalLampX[lamp] + 1, 14) == LIT_SIGNAL_COLOUR;
    }
    HWND window = nullptr;
};

static std::string Pattern()
{
    const std::string alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::string pattern;
    for (int width = 5; width <= 46; width++)
        pattern += alphabet.substr(0, width) + "\r\n";
    return pattern;
}

TEST_F(Poll, EachPortSendsThePatternWheneverItsOwnQueueEmpties)
{
    Open(5), Open(6), Open(7);
    PollAllPorts(); // test data off
    EXPECT_EQ(0, Sim::CallCount(Sim::CALL_WRITE_FILE));
    TestDataOn = 1;
    DCB fast = Sim::CommState(5);
    fast.BaudRate = 115200; // 1,155 bytes take 100 ms, at 9,600 1.2 s
    Sim::SetCommStateOf(5, fast);
    PollAllPorts();
    for (int i = 0; i < 4; i++) {
        Sim::Advance(50);
        PollAllPorts();
    }
    EXPECT_EQ(2, Sim::CallCount(Sim::CALL_WRITE_FILE, 5));
    EXPECT_EQ(1, Sim::CallCount(Sim::CALL_WRITE_FILE, 6));
    Sim::Advance(1500);
    PollAllPorts();
    EXPECT_EQ(2, Sim::CallCount(Sim::CALL_WRITE_FILE, 7));
    Sim::Advance(3000);
    for (int n = 6; n <= 7; n++)
        EXPECT_EQ(Pattern() + Pattern(), Sim::PeerTake(n)) << n;
    EXPECT_EQ(1155, TestPatternLength);
}

TEST_F(Poll, AWriteThatNeverCompletesGetsNoNewPatternDespiteAnEmptyQueue)
{
    TestDataOn = 1;
    Open(5);
    Sim::NextWritePending(5, INFINITE);
    for (int i = 0; i < 20; i++) {
        PollAllPorts();
        Sim::Advance(2000);
        ASSERT_EQ(0u, Sim::OutputQueue(5));
    }
    EXPECT_EQ(1, Sim::CallCount(Sim::CALL_WRITE_FILE, 5));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Poll, InputIsDrainedInChunksAndFailuresAreMarked)
{
    PortRecord *p = Open(5), *q = Open(6);
    Sim::SetQueueSizes(5, 20000, 4096);
    std::string data;
    for (int i = 0; i < 12000; i++)
        data += (char)('A' + i % 26);
    data[4999] = 0; // a NUL inside counted data is a marker
    Sim::PeerSend(5, data.data(), (DWORD)data.size());
    Sim::PeerSend(6, "a\0b", 3);
    Sim::FailCall(Sim::CALL_READ_FILE, ERROR_GEN_FAILURE, 1, 5, 1);
    Sim::StartCallLog();
    PollAllPorts();
    EXPECT_EQ((std::vector<DWORD>{3, 5000, 5000, 2000}), Logged(Sim::CALL_READ_FILE));
    EXPECT_EQ(6, Sim::CallLog()[0].number); // the newest port first
    EXPECT_EQ(5000u, Sim::InputQueue(5));   // the failed chunk's bytes stay queued
    EXPECT_EQ(1u, boxes.boxes.size());
    EXPECT_STREQ("a<0H>b", q->lines[0].text);
    std::string ring = Ring(p);
    EXPECT_NE(std::string::npos, ring.find("<0H>"));
    EXPECT_NE(std::string::npos, ring.find("Error reading data" + data.substr(5000, 30)));
    EXPECT_EQ(0, p->receiveBuffer[2000]);
}

TEST_F(Poll, UnreadableLineStatusDrainsNothing)
{
    PortRecord* p = Open(5);
    Sim::PeerSend(5, "data", 4);
    Sim::FailCall(Sim::CALL_CLEAR_COMM_ERROR, ERROR_INVALID_HANDLE, 1, 5);
    PollAllPorts();
    EXPECT_TRUE(Logged(Sim::CALL_READ_FILE).empty());
    PollAllPorts();
    EXPECT_EQ(0u, Ring(p).find("<ERR 6H,ClearCommError, COM5, handle:"));
    EXPECT_EQ("data", Ring(p).substr(Ring(p).size() - 4));
}

TEST_F(Poll, LampsRepaintOnlyOnChangeAndEvenWhileThePortIsUnderTest)
{
    TestDataOn = 1;
    PortRecord* p = Open(5);
    p->testInProgress = 1;
    Show(p, 100);
    Sim::PeerSend(5, "echo", 4);
    Sim::SetPeerSignals(5, MS_CTS_ON);
    PollAllPorts();
    EXPECT_EQ(0, Sim::CallCount(Sim::CALL_WRITE_FILE, 5));
    EXPECT_EQ(4u, Sim::InputQueue(5));
    EXPECT_TRUE(LampLit(window, 0));
    EXPECT_TRUE(LampLit(window, 4)); // a new port is painted whole at its first poll
    p->testInProgress = 0;
    PollAllPorts();
    EXPECT_EQ(1, Sim::CallCount(Sim::CALL_WRITE_FILE, 5));
    EXPECT_STREQ("echo", p->lines[0].text);

    delete p;
    DestroyWindow(window);
    p = Open(6);
    Show(p, 100);
    p->clientHeight = 20;
    PollAllPorts();
    PollAllPorts();
    EXPECT_TRUE(AllOf(window, Unpainted, 0, 0, 640, 100));
    p->clientHeight = 100; // nothing new, yet it is painted now
    PollAllPorts();
    EXPECT_TRUE(LampLit(window, 5));
    Cover(window, RGB(0, 0, 0), 0, 0, 640, 18);
    PollAllPorts();
    EXPECT_TRUE(AllOf(window, RGB(0, 0, 0), 0, 0, 640, 18));
    Sim::SetPeerSignals(6, MS_DSR_ON); // a modem input change alone repaints
    PollAllPorts();
    EXPECT_TRUE(LampLit(window, 1));
    EXPECT_FALSE(LampLit(window, 0));
    Sim::PeerSend(6, "HELLO", 5);
    Sim::Advance(PaintPeriodMs); // the rows were painted at this time
    PollAllPorts();
    EXPECT_EQ(0, p->lines[0].dirty);
    EXPECT_FALSE(AllOf(window, RGB(255, 255, 255), 10, 14 * 6 + 4, 100, 14 * 7));
}

TEST_F(Poll, ABoxShownDuringAPollStartsNoNestedPoll)
{
    PortRecord* p = Open(5);
    Open(6);
    Sim::PeerSend(5, "x", 1);
    Sim::FailCall(Sim::CALL_READ_FILE, ERROR_GEN_FAILURE, 1, 5);
    int nested = -1;
    boxes.onBox = [&](const ShownBox&) { // the box's loop delivers a tick
        int before = Sim::CallCount(Sim::CALL_CLEAR_COMM_ERROR);
        PollAllPorts();
        nested = Sim::CallCount(Sim::CALL_CLEAR_COMM_ERROR) - before;
    };
    PollAllPorts();
    EXPECT_EQ(0, nested);
    boxes.onBox = nullptr;
    Sim::PeerSend(5, "y", 1);
    PollAllPorts(); // the guard is released after the outer poll
    EXPECT_EQ("Error reading dataxy", Ring(p));
}

// The test allocator fills a deleted record with 0xDD: touching it would crash.
TEST_F(Poll, ARecordDeletedInsideABoxIsNotTouchedAgain)
{
    const struct {
        Sim::Call fail;
        int failing, deleted; // of COM5 (polled last), COM6 and COM7
    } cases[] = {
        {Sim::CALL_READ_FILE, 6, 6},
        {Sim::CALL_READ_FILE, 6, 5},
        {Sim::CALL_GET_MODEM_STATUS, 7, 7},
        {Sim::CALL_WRITE_FILE, 7, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.fail << " " << c.failing << " " << c.deleted);
        Sim::Reset();
        Sim::StartCallLog();
        TestDataOn = 1;
        PortRecord* ports[3] = {Open(5), Open(6), Open(7)};
        Sim::PeerSend(c.failing, "x", 1);
        Sim::FailCall(c.fail, ERROR_GEN_FAILURE, 1, c.failing);
        boxes.onBox = [&](const ShownBox&) { delete ports[c.deleted - 5]; };
        PollAllPorts();
        EXPECT_EQ(1u, boxes.boxes.size());
        EXPECT_EQ(0, Sim::CallCount(Sim::CALL_CLEAR_COMM_ERROR, 5));
        size_t reads = Logged(Sim::CALL_READ_FILE, c.deleted).size();
        EXPECT_EQ(c.fail == Sim::CALL_READ_FILE && c.failing == c.deleted ? 1u : 0u, reads);
        boxes.onBox = nullptr;
        boxes.boxes.clear();
        PollAllPorts();
        for (int n = 5; n <= 7; n++) {
            if (n != c.deleted) {
                EXPECT_LE(1, Sim::CallCount(Sim::CALL_CLEAR_COMM_ERROR, n)) << n;
            }
        }
        while (PortListHead)
            delete PortListHead;
    }
}
