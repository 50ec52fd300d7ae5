// Opening ports and moving bytes through them, against the simulated adapter.
#include "app/state.h"
#include "port/device.h"
#include "port/loopback.h"
#include "port/port_record.h"
#include "port/transfer.h"
#include "sim/sim.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>

typedef std::vector<std::string> Texts;

class Transfer : public testing::Test
{
  protected:
    void SetUp() override
    {
        ResetProgramState();
        Sim::AddPort(5);
    }
    void TearDown() override
    {
        for (PortRecord* p : owned)
            delete p;
        ResetProgramState();
    }
    PortRecord* NewRecord()
    {
        PortRecord* p = new PortRecord;
        owned.push_back(p);
        return p;
    }
    PortRecord* Open(const char* name = "COM5")
    {
        PortRecord* p = NewRecord();
        EXPECT_EQ(0, OpenPort(p, name));
        return p;
    }
    void Close(PortRecord* p)
    {
        delete p;
        for (PortRecord*& o : owned)
            if (o == p)
                o = nullptr;
    }
    std::string Line(int number)
    {
        Sim::Advance(2000);
        return Sim::PeerTake(number);
    }

    SimulatedAdapter adapter;
    BoxRecorder boxes;
    std::vector<PortRecord*> owned;
};

// --- ReportCommError ---

TEST_F(Transfer, ErrorBoxTextsJoinTheirPartsExactly)
{
    struct Case {
        const char* text1;
        int number1;
        const char* text2;
        int number2;
        const char* shown;
    };
    const Case cases[] = {
        {"Com Write Error:", 87, nullptr, 0, "Com Write Error:87"},
        {"ComOut Pending Failed, stat:", -1, nullptr, 0, "ComOut Pending Failed, stat:-1"},
        {"ComRead Bytes, got:", 3, ",Wanted:", 8, "ComRead Bytes, got: 3 ,Wanted: 8"},
        {"ComRead Error B Bytes, got:", -2147483647 - 1, ",Wanted:", -2147483647 - 1,
         "ComRead Error B Bytes, got: -2147483648 ,Wanted: -2147483648"}, // the longest
    };
    for (const Case& c : cases) {
        boxes.boxes.clear();
        ReportCommError(c.text1, c.number1, c.text2, c.number2);
        EXPECT_EQ(Texts{c.shown}, boxes.Texts());
    }
}

TEST_F(Transfer, ErrorBoxIsOwnedByTheFrameWithoutCaptionAndAsksAQuestion)
{
    HWND saved = FrameWindow;
    FrameWindow = (HWND)0x1234;
    ReportCommError("ComOut Pending Failed, stat:", -1, nullptr, 0);
    FrameWindow = saved;
    ASSERT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ((HWND)0x1234, boxes.boxes[0].owner);
    EXPECT_EQ("(null)", boxes.boxes[0].caption);
    EXPECT_EQ((UINT)MB_ICONQUESTION, boxes.boxes[0].style);
}

// --- OpenPort ---

TEST_F(Transfer, OpeningAMissingPortShowsTheCodeAndTheName)
{
    PortRecord* p = NewRecord();
    EXPECT_EQ(1, OpenPort(p, "COM9"));
    EXPECT_EQ(Texts{"Error from CreateFile: 2 COM9 0"}, boxes.Texts());
    EXPECT_EQ(nullptr, PortListHead);
    EXPECT_EQ(nullptr, p->device);
    EXPECT_STREQ("COM9", p->name);
}

TEST_F(Transfer, ARefusedOpenShowsTheSystemsCode)
{
    Sim::FailCall(Sim::CALL_CREATE_FILE, ERROR_ACCESS_DENIED);
    EXPECT_EQ(1, OpenPort(NewRecord(), "COM5"));
    EXPECT_EQ(Texts{"Error from CreateFile: 5 COM5 0"}, boxes.Texts());
    EXPECT_FALSE(Sim::IsOpen(5));
}

TEST_F(Transfer, OpenedPortsAreLinkedNewestFirst)
{
    Sim::AddPort(6);
    Sim::AddPort(7);
    PortRecord* p5 = Open("COM5");
    PortRecord* p6 = Open("COM6");
    PortRecord* p7 = Open("COM7");
    ASSERT_EQ(p7, PortListHead);
    ASSERT_EQ(p6, p7->next);
    ASSERT_EQ(p5, p6->next);
    EXPECT_EQ(nullptr, p5->next);
    EXPECT_TRUE(Sim::IsOpen(5) && Sim::IsOpen(6) && Sim::IsOpen(7));
    EXPECT_EQ(0, p7->writePending);
    EXPECT_NE(nullptr, p7->readBlock.hEvent);
    EXPECT_NE(nullptr, p7->writeBlock.hEvent);
    EXPECT_NE(nullptr, p7->eventBlock.hEvent);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Transfer, ASecondOpenOfAnOpenPortIsRefusedWithoutTouchingTheDevice)
{
    PortRecord* first = Open();
    int creates = Sim::CallCount(Sim::CALL_CREATE_FILE);
    for (const char* name : {"COM5", "com5"}) {
        SCOPED_TRACE(name);
        boxes.boxes.clear();
        PortRecord* second = NewRecord();
        EXPECT_EQ(1, OpenPort(second, name));
        EXPECT_EQ(Texts{std::string("Error from CreateFile: 5 ") + name + " 0"}, boxes.Texts());
        EXPECT_EQ(creates, Sim::CallCount(Sim::CALL_CREATE_FILE));
        EXPECT_EQ(first, PortListHead);
        EXPECT_EQ(nullptr, first->next);
        EXPECT_EQ(nullptr, second->device);
    }
}

static int FailingEventCall;
static int EventCalls;
static HANDLE(WINAPI* SimCreateEvent)(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR);
static HANDLE WINAPI CreateEventFailingOne(LPSECURITY_ATTRIBUTES a, BOOL m, BOOL i, LPCSTR n)
{
    if (++EventCalls == FailingEventCall) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return SimCreateEvent(a, m, i, n);
}

TEST_F(Transfer, EachFailedEventCreationHasItsBoxAndThePortStillOpens)
{
    const char* expected[] = {"Error A CreateEvent0", "Error B CreateEvent0",
                              "Error C CreateEvent0"};
    SimCreateEvent = Device.CreateEventA;
    Device.CreateEventA = CreateEventFailingOne;
    for (int k = 1; k <= 3; k++) {
        boxes.boxes.clear();
        EventCalls = 0;
        FailingEventCall = k;
        PortRecord* p = NewRecord();
        EXPECT_EQ(0, OpenPort(p, "COM5"));
        EXPECT_EQ(Texts{expected[k - 1]}, boxes.Texts());
        EXPECT_EQ(p, PortListHead);
        Close(p);
    }
    Device.CreateEventA = SimCreateEvent;
}

TEST_F(Transfer, ClosingReleasesTheDeviceAndEveryEvent)
{
    PortRecord* p = Open();
    EXPECT_EQ(4, Sim::OpenHandles());
    Close(p);
    EXPECT_EQ(0, Sim::OpenHandles());
    EXPECT_FALSE(Sim::IsOpen(5));
}

// --- WritePort ---

TEST_F(Transfer, AStringOfLength0IsSentWithoutItsTerminator)
{
    PortRecord* p = Open();
    WritePort(p, "AT", 0);
    EXPECT_EQ(std::string("AT"), Line(5));
    EXPECT_EQ(0, p->writePending);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Transfer, TheNextWriteWaitsForThePendingOne)
{
    PortRecord* p = Open();
    Sim::NextWritePending(5, 100);
    EXPECT_EQ(0, WritePort(p, "one", 3));
    EXPECT_EQ(1, p->writePending);
    int waits = Sim::CallCount(Sim::CALL_WAIT);
    ULONGLONG issued = Sim::Now();
    WritePort(p, "two", 3);
    EXPECT_EQ(waits + 1, Sim::CallCount(Sim::CALL_WAIT));
    EXPECT_GE(Sim::Now(), issued + 100); // the wait lasted until the write completed
    EXPECT_LT(Sim::Now(), issued + WRITE_WAIT_MS);
    EXPECT_EQ(0, p->writePending);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(std::string("onetwo"), Line(5));
}

TEST_F(Transfer, AWriteThatStaysPendingTimesOutOncePerFollowingWrite)
{
    PortRecord* p = Open();
    for (int i = 0; i < 3; i++) {
        Sim::NextWritePending(5, INFINITE);
        WritePort(p, "x", 1);
        EXPECT_EQ(1, p->writePending);
        EXPECT_EQ((size_t)i, boxes.boxes.size());
    }
    EXPECT_EQ(Texts(2, "ComOut Pending Failed, stat:258"), boxes.Texts());
    EXPECT_EQ(3, Sim::CallCount(Sim::CALL_WRITE_FILE));
}

TEST_F(Transfer, HeldOutputTimesOutOncePerWrite)
{
    PortRecord* p = Open();
    DCB dcb = Sim::CommState(5);
    dcb.fOutxCtsFlow = TRUE;
    Sim::SetCommStateOf(5, dcb);
    Sim::SetPeerSignals(5, 0); // CTS off: output is held
    std::string block(2000, 'h');
    for (int i = 0; i < 4; i++)
        WritePort(p, block.data(), (DWORD)block.size());
    EXPECT_EQ(4, Sim::CallCount(Sim::CALL_WRITE_FILE));
    EXPECT_EQ(Texts(3, "ComOut Pending Failed, stat:258"), boxes.Texts());
    EXPECT_EQ(std::string(), Sim::PeerTake(5));
}

TEST_F(Transfer, FailuresWhileWaitingForThePendingWriteShowTheirBox)
{
    struct Case {
        Sim::Call call;
        DWORD code;
        const char* shown;
    };
    const Case cases[] = {
        {Sim::CALL_WAIT, ERROR_INVALID_HANDLE, "ComOut Pending Failed, stat:-1"},
        {Sim::CALL_GET_OVERLAPPED_RESULT, ERROR_IO_INCOMPLETE,
         "Timeout Comout GetOverLappedResult:996"},
        {Sim::CALL_GET_OVERLAPPED_RESULT, ERROR_BAD_COMMAND, "Error Comout GetOverLappedResult:22"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        boxes.boxes.clear();
        PortRecord* p = Open();
        int writes = Sim::CallCount(Sim::CALL_WRITE_FILE);
        Sim::NextWritePending(5, 100);
        WritePort(p, "a", 1);
        Sim::FailCall(c.call, c.code);
        WritePort(p, "b", 1);
        EXPECT_EQ(Texts{c.shown}, boxes.Texts());
        EXPECT_EQ(writes + 2, Sim::CallCount(Sim::CALL_WRITE_FILE));
        Close(p);
        Sim::ClearFaults();
    }
}

TEST_F(Transfer, ARefusedWriteShowsItsCode)
{
    PortRecord* p = Open();
    Sim::FailCall(Sim::CALL_WRITE_FILE, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(0, WritePort(p, "a", 1));
    EXPECT_EQ(Texts{"Com Write Error:87"}, boxes.Texts());
    EXPECT_EQ(0, p->writePending);
}

TEST_F(Transfer, APendingWriteSendsTheBytesPassedEvenWhenTheCallerReusesThem)
{
    PortRecord* p = Open();
    Sim::NextWritePending(5, 500);
    char key[4] = "abc";
    WritePort(p, key, 3);
    strcpy(key, "XYZ");
    EXPECT_EQ(std::string("abc"), Line(5));
}

TEST_F(Transfer, AnAbandonedWriteIsFreedOnceItCompletes)
{
    PortRecord* p = Open();
    int open = Sim::OpenHandles();
    Sim::NextWritePending(5, WRITE_WAIT_MS + 4000);
    WritePort(p, "first", 0);
    WritePort(p, "second", 0); // waits 6000 ms, gives up on the first
    EXPECT_EQ(Texts{"ComOut Pending Failed, stat:258"}, boxes.Texts());
    EXPECT_GE(Sim::OpenHandles(), open + 1); // the first's event is kept
    Sim::Advance(10000);
    WritePort(p, "third", 0);
    EXPECT_EQ(open, Sim::OpenHandles());
    // The device may finish the abandoned write after the newer one.
    std::string line = Line(5);
    EXPECT_EQ(16u, line.size());
    for (const char* part : {"first", "second", "third"})
        EXPECT_NE(std::string::npos, line.find(part)) << part;
}

TEST_F(Transfer, ClosingWithRequestsOutstandingAbortsAndFreesThem)
{
    PortRecord* p = Open();
    Sim::NextWritePending(5, INFINITE);
    WritePort(p, "stuck", 0);
    Sim::NextReadPending(5, 5, INFINITE);
    char buffer[8];
    DWORD count = 0;
    EXPECT_EQ(1, ReadPort(p, buffer, 5, &count));
    Close(p);
    EXPECT_EQ(0, Sim::OpenHandles());
    EXPECT_EQ((std::vector<DWORD>{PURGE_TXABORT, PURGE_RXABORT}), Sim::Purges(5));
}

TEST_F(Transfer, ClosingThePortFromInsideTheTimeoutBoxStopsTheWrite)
{
    PortRecord* p = Open();
    Sim::NextWritePending(5, INFINITE);
    WritePort(p, "a", 1);
    boxes.onBox = [&](const ShownBox&) { Close(p); };
    WritePort(p, "b", 1);
    EXPECT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ(1, Sim::CallCount(Sim::CALL_WRITE_FILE));
    EXPECT_FALSE(Sim::IsOpen(5));
}

TEST_F(Transfer, AWriteIssuedFromInsideTheTimeoutBoxIsKeptUntilDone)
{
    PortRecord* p = Open();
    int open = Sim::OpenHandles();
    Sim::NextWritePending(5, WRITE_WAIT_MS + 1000);
    WritePort(p, "a", 1);
    boxes.onBox = [&](const ShownBox&) {
        boxes.onBox = nullptr;
        Sim::NextWritePending(5, 500);
        WritePort(p, "n", 1);
    };
    Sim::NextWritePending(5, 500);
    WritePort(p, "b", 1);
    EXPECT_EQ(1, p->writePending);
    Sim::Advance(5000);
    WritePort(p, "c", 1);
    WritePort(p, "d", 1);
    EXPECT_EQ(open, Sim::OpenHandles());
    EXPECT_EQ(Texts{"ComOut Pending Failed, stat:258"}, boxes.Texts());
}

TEST_F(Transfer, ABusyPortReadsAndWritesWithoutCreatingEvents)
{
    PortRecord* p = Open();
    int open = Sim::OpenHandles();
    SimCreateEvent = Device.CreateEventA;
    Device.CreateEventA = CreateEventFailingOne;
    EventCalls = 0;
    FailingEventCall = 0;
    std::string sent;
    for (int i = 0; i < 50; i++) {
        std::string chunk(1 + i * 40, (char)('a' + i % 26));
        Sim::PeerSend(5, chunk.data(), (DWORD)chunk.size());
        std::string got(chunk.size(), '#');
        DWORD count = 0;
        EXPECT_EQ(0, ReadPort(p, &got[0], (DWORD)got.size(), &count));
        EXPECT_EQ(chunk, got);
        std::string line(1 + (i * 7) % 30, (char)('A' + i % 26));
        WritePort(p, line.data(), (DWORD)line.size());
        sent += line;
    }
    Device.CreateEventA = SimCreateEvent;
    EXPECT_EQ(0, EventCalls);
    EXPECT_EQ(open, Sim::OpenHandles());
    EXPECT_EQ(sent, Line(5));
    EXPECT_TRUE(boxes.boxes.empty());
}

// --- ReadPort ---

TEST_F(Transfer, ReadOutcomes)
{
    const int UNCHECKED = -1;
    struct Case {
        const char* name;
        void (*arrange)(int port);
        int result;
        int count; // UNCHECKED: the call leaves it as it was
        const char* data;
        const char* shown; // nullptr: no box
    };
    const Case cases[] = {
        {"queued bytes are read at once", [](int n) { Sim::PeerSend(n, "hello", 5); }, 0, 5,
         "hello", nullptr},
        {"a short immediate read is shown and still delivered",
         [](int n) {
             Sim::PeerSend(n, "hello", 5);
             Sim::NextReadShort(n, 3);
         },
         0, 3, "hel", "ComRead Error B Bytes, got: 3 ,Wanted: 5"},
        {"a refused read fails", [](int) { Sim::FailCall(Sim::CALL_READ_FILE, ERROR_BAD_COMMAND); },
         1, UNCHECKED, "", "Error On Read!: 22 ,Wanted: 5"},
        {"a pending read completing in full succeeds",
         [](int n) { Sim::NextReadPending(n, 5, 200); }, 0, 5, "xxxxx", nullptr},
        {"a pending read completing short is shown and delivered",
         [](int n) { Sim::NextReadPending(n, 3, 200); }, 0, 3, "xxx",
         "ComRead Bytes, got: 3 ,Wanted: 5"},
        {"a pending read completing empty fails", [](int n) { Sim::NextReadPending(n, 0, 200); }, 1,
         0, "", "ComRead Bytes, got: 0 ,Wanted: 5"},
        {"a failed wait is shown as -1",
         [](int n) {
             Sim::NextReadPending(n, 5, 200);
             Sim::FailCall(Sim::CALL_WAIT, ERROR_INVALID_HANDLE);
         },
         1, UNCHECKED, "", "ComIn Pending Failed!: -1 ,Wanted: 5"},
        {"an incomplete result is shown as a timeout",
         [](int n) {
             Sim::NextReadPending(n, 5, 200);
             Sim::FailCall(Sim::CALL_GET_OVERLAPPED_RESULT, ERROR_IO_INCOMPLETE);
         },
         1, UNCHECKED, "", "Timeout Comin GetOverLappedResult:996"},
        {"a failed result shows its code",
         [](int n) {
             Sim::NextReadPending(n, 5, 200);
             Sim::FailCall(Sim::CALL_GET_OVERLAPPED_RESULT, ERROR_BAD_COMMAND);
         },
         1, UNCHECKED, "", "Error Comin GetOverLappedResult:22"},
    };
    int number = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.boxes.clear();
        Sim::AddPort(++number);
        PortRecord* p = Open(("COM" + std::to_string(number)).c_str());
        c.arrange(number);
        char buffer[8] = {0};
        DWORD count = 99;
        EXPECT_EQ(c.result, ReadPort(p, buffer, 5, &count));
        if (c.count != UNCHECKED) {
            EXPECT_EQ((DWORD)c.count, count);
        }
        EXPECT_EQ(std::string(c.data), std::string(buffer, strlen(c.data)));
        EXPECT_EQ(c.shown ? Texts{c.shown} : Texts{}, boxes.Texts());
        Sim::ClearFaults();
    }
}

TEST_F(Transfer, APendingReadThatTimesOutFailsWithCount0AfterTheFullWait)
{
    PortRecord* p = Open();
    Sim::NextReadPending(5, 5, INFINITE);
    char buffer[8];
    DWORD count = 7;
    ULONGLONG issued = Sim::Now();
    EXPECT_EQ(1, ReadPort(p, buffer, 5, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(issued + READ_WAIT_MS, Sim::Now());
    EXPECT_EQ(Texts{"ComIn Pending Failed!: 258 ,Wanted: 5"}, boxes.Texts());
}

TEST_F(Transfer, AnAbandonedReadCompletesLaterIntoItsOwnMemory)
{
    PortRecord* p = Open();
    int open = Sim::OpenHandles();
    HANDLE portEvent = p->readBlock.hEvent;
    Sim::NextReadPending(5, 5, READ_WAIT_MS + 10000);
    char first[8];
    memset(first, '#', sizeof first);
    DWORD count = 0;
    EXPECT_EQ(1, ReadPort(p, first, 5, &count));
    EXPECT_EQ(Texts{"ComIn Pending Failed!: 258 ,Wanted: 5"}, boxes.Texts());
    // The abandoned request keeps the port's event alive; the port has a fresh one.
    EXPECT_EQ(open + 1, Sim::OpenHandles());
    EXPECT_NE(portEvent, p->readBlock.hEvent);
    EXPECT_NE(nullptr, p->readBlock.hEvent);

    // The next read, pending and completing in time, gets its own block, event and bytes.
    Sim::NextReadPending(5, 5, 100);
    Sim::PeerSend(5, "fresh", 5);
    char second[8] = {0};
    EXPECT_EQ(0, ReadPort(p, second, 5, &count));
    EXPECT_EQ(std::string("fresh"), std::string(second, 5));

    // The abandoned read now completes, writing where it was told to.
    Sim::Advance(20000);
    EXPECT_EQ(std::string(8, '#'), std::string(first, 8));
    EXPECT_EQ(std::string("fresh"), std::string(second, 5));

    // ...and is freed at the next call.
    Sim::PeerSend(5, "later", 5);
    EXPECT_EQ(0, ReadPort(p, second, 5, &count));
    EXPECT_EQ(std::string("later"), std::string(second, 5));
    EXPECT_EQ(open, Sim::OpenHandles());
    EXPECT_EQ(1u, boxes.boxes.size());
}

static BOOL(WINAPI* SimCloseHandle)(HANDLE);
static BOOL(WINAPI* SimPurgeComm)(HANDLE, DWORD);
static HANDLE StuckDevice;
static BOOL WINAPI CloseAllButTheStuckDevice(HANDLE h)
{
    return h == StuckDevice ? TRUE : SimCloseHandle(h);
}
static BOOL WINAPI PurgeNothing(HANDLE, DWORD)
{
    return TRUE;
}

TEST_F(Transfer, ARequestTheDeviceStillHoldsAfterCloseIsNeverFreed)
{
    PortRecord* p = Open();
    Sim::NextReadPending(5, 5, READ_WAIT_MS + 5000);
    char buffer[8];
    DWORD count = 0;
    EXPECT_EQ(1, ReadPort(p, buffer, 5, &count));

    // A driver that neither aborts nor closes: the request stays its.
    StuckDevice = p->device;
    SimCloseHandle = Device.CloseHandle;
    SimPurgeComm = Device.PurgeComm;
    Device.CloseHandle = CloseAllButTheStuckDevice;
    Device.PurgeComm = PurgeNothing;
    Close(p);
    Device.CloseHandle = SimCloseHandle;
    Device.PurgeComm = SimPurgeComm;
    EXPECT_EQ(2, Sim::OpenHandles()); // the device and the request's event

    Sim::Advance(10000); // the late completion lands in memory still allocated for it
    Device.CloseHandle(StuckDevice);
    EXPECT_EQ(1, Sim::OpenHandles());
}
