#include "app/commands.h"
#include "app/state.h"
#include "dialogs/dialogs.h"
#include "port/device.h"
#include "port/loopback.h"
#include "port/port_record.h"
#include "port/transfer.h"
#include "sim/sim.h"
#include "tests/shell_helpers.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <new>
#include <string.h>

static const char Caption[] = "Tarnwick - Loopback Test";

static int AllDeviceCalls()
{
    int total = 0;
    for (int c = 0; c < Sim::CALL_COUNT; c++)
        total += Sim::CallCount((Sim::Call)c);
    return total;
}

class LoopbackTest : public testing::Test
{
  protected:
    SimulatedAdapter adapter;
    BoxRecorder recorder;
    PortRecord* port = nullptr;
    bool inStorage = false;
    bool destroyed = false;
    bool ownsMenu = false;
    alignas(PortRecord) unsigned char storage[sizeof(PortRecord)];

    void SetUp() override
    {
        ResetProgramState();
    }
    void TearDown() override
    {
        if (port && !destroyed) {
            if (inStorage)
                port->~PortRecord();
            else
                delete port;
        }
        if (ownsMenu) {
            DestroyMenu(AppMenu);
            AppMenu = nullptr;
        }
        ResetProgramState();
    }

    // Opens COM5 on the simulated adapter at 8 data bits, no parity, one stop bit.
    void Open(Sim::Wiring wiring, DWORD baud = 9600)
    {
        Sim::AddPort(5, wiring);
        port = inStorage ? new (storage) PortRecord : new PortRecord;
        ASSERT_EQ(0, OpenPort(port, "COM5"));
        ASSERT_TRUE(Device.GetCommState(port->device, &port->dcb));
        port->dcb.BaudRate = baud;
        port->dcb.ByteSize = 8;
        port->dcb.Parity = NOPARITY;
        port->dcb.StopBits = ONESTOPBIT;
        ASSERT_TRUE(Device.SetCommState(port->device, &port->dcb));
    }

    // What the port window's destroy handler does when a log-off closes it,
    // with the memory kept so the test can see any later write to it.
    void DestroyPortLikeItsWindow()
    {
        ASSERT_TRUE(inStorage);
        port->~PortRecord();
        memset(storage, 0xDD, sizeof storage);
        destroyed = true;
    }

    bool StorageUntouched() const
    {
        for (unsigned char b : storage)
            if (b != 0xDD)
                return false;
        return true;
    }

    std::string LastText() const
    {
        return recorder.boxes.empty() ? std::string() : recorder.boxes.back().text;
    }

    void MakeMenuWithTestDataChecked()
    {
        AppMenu = CreateMenu();
        ownsMenu = true;
        AppendMenuA(AppMenu, MF_STRING | MF_CHECKED, CMD_SEND_TEST_DATA, "Send Test Data");
        TestDataOn = 1;
    }

    bool TestDataChecked() const
    {
        return (GetMenuState(AppMenu, CMD_SEND_TEST_DATA, MF_BYCOMMAND) & MF_CHECKED) != 0;
    }
};

// --- outcomes on the plugs ---

TEST_F(LoopbackTest, GoodPlugPassesWithQuestionAndResultBoxes)
{
    Open(Sim::WIRE_LOOPBACK_PLUG);
    RunLoopbackTest(port);
    ASSERT_EQ(2u, recorder.boxes.size());
    EXPECT_EQ("Place the loopback plug on COM5", recorder.boxes[0].text);
    EXPECT_EQ(Caption, recorder.boxes[0].caption);
    EXPECT_EQ((UINT)MB_OKCANCEL, recorder.boxes[0].style);
    EXPECT_EQ(GetFocus(), recorder.boxes[1].owner);
}

struct PlugCase {
    const char* name;
    Sim::Wiring wiring;
    const char* result;
    UINT icon;
};

class LoopbackTestPlug : public LoopbackTest, public testing::WithParamInterface<PlugCase>
{
};

TEST_P(LoopbackTestPlug, ResultBoxNamesTheOutcome)
{
    Open(GetParam().wiring);
    RunLoopbackTest(port);
    ASSERT_EQ(2u, recorder.boxes.size());
    EXPECT_EQ(GetParam().result, recorder.boxes[1].text);
    EXPECT_EQ(Caption, recorder.boxes[1].caption);
    EXPECT_EQ(GetParam().icon, recorder.boxes[1].style);
}

INSTANTIATE_TEST_SUITE_P(
    Wirings, LoopbackTestPlug,
    testing::Values(PlugCase{"Good", Sim::WIRE_LOOPBACK_PLUG, "COM5 passed the loopback test.",
                             MB_ICONINFORMATION},
                    PlugCase{"RiWiredToRts", Sim::WIRE_LOOPBACK_PLUG_RI,
                             "COM5 passed the loopback test. RI present.", MB_ICONINFORMATION},
                    PlugCase{"NothingConnected", Sim::WIRE_NONE,
                             "Port failed loopback test(Error:1eH)", MB_ICONERROR},
                    PlugCase{"DataOnly", Sim::WIRE_DATA_ONLY, "Port failed loopback test(Error:eH)",
                             MB_ICONERROR}),
    [](const testing::TestParamInfo<PlugCase>& info) { return info.param.name; });

TEST_F(LoopbackTest, At300BaudTheEchoIsLateAndStaysQueued)
{
    Open(Sim::WIRE_LOOPBACK_PLUG, 300);
    RunLoopbackTest(port);
    EXPECT_EQ("Port failed loopback test(Error:10H)", LastText());
    EXPECT_EQ(0, Sim::CallCount(Sim::CALL_READ_FILE, 5));
    Sim::Advance(1000);
    EXPECT_EQ(8u, Sim::InputQueue(5));
}

TEST_F(LoopbackTest, At600BaudTheEchoArrivesInTime)
{
    Open(Sim::WIRE_LOOPBACK_PLUG, 600);
    RunLoopbackTest(port);
    EXPECT_EQ("COM5 passed the loopback test.", LastText());
    EXPECT_EQ(0u, Sim::InputQueue(5));
}

TEST_F(LoopbackTest, BytesAlreadyWaitingFailTheCountAndAreNotRead)
{
    Open(Sim::WIRE_LOOPBACK_PLUG);
    Sim::PeerSend(5, "abc", 3);
    Sim::Advance(100);
    ASSERT_EQ(3u, Sim::InputQueue(5));
    RunLoopbackTest(port);
    EXPECT_EQ("Port failed loopback test(Error:10H)", LastText());
    EXPECT_EQ(0, Sim::CallCount(Sim::CALL_READ_FILE, 5));
    EXPECT_EQ(11u, Sim::InputQueue(5));
}

// --- what the test does to the port ---

TEST_F(LoopbackTest, DrivesTheFourCombinationsDtrFirstAndLeavesBothOn)
{
    Open(Sim::WIRE_LOOPBACK_PLUG);
    port->outputSignals = 0;
    RunLoopbackTest(port);
    std::vector<DWORD> expected = {CLRDTR, CLRRTS, CLRDTR, SETRTS, SETDTR, CLRRTS, SETDTR, SETRTS};
    EXPECT_EQ(expected, Sim::Escapes(5));
    EXPECT_EQ(3, port->outputSignals);
    EXPECT_EQ(3u, Sim::OutputLines(5));
    std::vector<DWORD> purges = {PURGE_TXABORT, PURGE_RXABORT};
    EXPECT_EQ(purges, Sim::Purges(5));
}

TEST_F(LoopbackTest, SendsTestingWithItsZeroAndWaitsThroughTheSeam)
{
    Open(Sim::WIRE_LOOPBACK_PLUG);
    ULONGLONG start = Sim::Now();
    RunLoopbackTest(port);
    EXPECT_EQ(6, Sim::CallCount(Sim::CALL_SLEEP));
    EXPECT_GE(Sim::Now() - start, 1200u);
    EXPECT_EQ(1, Sim::CallCount(Sim::CALL_WRITE_FILE, 5));
    EXPECT_EQ(1, Sim::CallCount(Sim::CALL_READ_FILE, 5));
}

TEST_F(LoopbackTest, PortIsMarkedOnlyFromTheAnswerUntilTheResultIsClosed)
{
    Open(Sim::WIRE_LOOPBACK_PLUG);
    std::vector<int> flags;
    recorder.onBox = [&](const ShownBox&) { flags.push_back(port->testInProgress); };
    RunLoopbackTest(port);
    EXPECT_EQ((std::vector<int>{0, 1}), flags);
    EXPECT_EQ(0, port->testInProgress);
}

TEST_F(LoopbackTest, TestDataIsSwitchedOffBeforeTheQuestion)
{
    Open(Sim::WIRE_LOOPBACK_PLUG);
    MakeMenuWithTestDataChecked();
    int onAtQuestion = -1;
    bool checkedAtQuestion = true;
    recorder.onBox = [&](const ShownBox&) {
        if (onAtQuestion < 0) {
            onAtQuestion = TestDataOn;
            checkedAtQuestion = TestDataChecked();
        }
    };
    RunLoopbackTest(port);
    EXPECT_EQ(0, onAtQuestion);
    EXPECT_FALSE(checkedAtQuestion);
    EXPECT_EQ(0, TestDataOn);
    EXPECT_FALSE(TestDataChecked());
}

TEST_F(LoopbackTest, CancelChangesOnlyTestData)
{
    Open(Sim::WIRE_LOOPBACK_PLUG);
    MakeMenuWithTestDataChecked();
    SetLoopback(port, 1);
    port->outputSignals = SIGNAL_LOOP | SIGNAL_RTS;
    int setStates = Sim::CallCount(Sim::CALL_SET_COMM_STATE);
    int escapes = Sim::CallCount(Sim::CALL_ESCAPE);
    int loops = Sim::CallCount(Sim::CALL_DEVICE_IO_CONTROL);
    recorder.answers = {IDCANCEL};
    RunLoopbackTest(port);
    EXPECT_EQ(1u, recorder.boxes.size());
    EXPECT_EQ(0, TestDataOn);
    EXPECT_FALSE(TestDataChecked());
    EXPECT_EQ(SIGNAL_LOOP | SIGNAL_RTS, port->outputSignals);
    EXPECT_TRUE(Sim::LoopbackOn(5));
    EXPECT_EQ(0, port->testInProgress);
    EXPECT_EQ(setStates, Sim::CallCount(Sim::CALL_SET_COMM_STATE));
    EXPECT_EQ(escapes, Sim::CallCount(Sim::CALL_ESCAPE));
    EXPECT_EQ(loops, Sim::CallCount(Sim::CALL_DEVICE_IO_CONTROL));
    EXPECT_EQ(0, Sim::CallCount(Sim::CALL_PURGE));
    EXPECT_EQ(0, Sim::CallCount(Sim::CALL_SLEEP));
}

TEST_F(LoopbackTest, InternalLoopbackIsOffAfterTheTest)
{
    Open(Sim::WIRE_LOOPBACK_PLUG);
    SetLoopback(port, 1);
    ASSERT_TRUE(Sim::LoopbackOn(5));
    RunLoopbackTest(port);
    EXPECT_FALSE(Sim::LoopbackOn(5));
    EXPECT_EQ(0, port->outputSignals & SIGNAL_LOOP);
    EXPECT_EQ("COM5 passed the loopback test.", LastText());
}

TEST_F(LoopbackTest, PortWithoutHandshakeGetsNoSettingsWritten)
{
    Open(Sim::WIRE_LOOPBACK_PLUG);
    int before = Sim::CallCount(Sim::CALL_SET_COMM_STATE);
    RunLoopbackTest(port);
    EXPECT_EQ(before, Sim::CallCount(Sim::CALL_SET_COMM_STATE));
}

struct HandshakeCase {
    const char* name;
    DWORD rtsControl;
    DWORD dtrControl;
};

static std::vector<DCB> DrivenLineSettings;
static BOOL(WINAPI* PassEscape)(HANDLE, DWORD);

static BOOL WINAPI RecordSettingsAndEscape(HANDLE device, DWORD function)
{
    DrivenLineSettings.push_back(Sim::CommState(5));
    return PassEscape(device, function);
}

class LoopbackTestHandshake : public LoopbackTest, public testing::WithParamInterface<HandshakeCase>
{
};

TEST_P(LoopbackTestHandshake, ModesAreSwitchedOffForTheStepsAndRestored)
{
    Open(Sim::WIRE_LOOPBACK_PLUG);
    DCB dcb = Sim::CommState(5);
    dcb.fRtsControl = GetParam().rtsControl;
    dcb.fDtrControl = GetParam().dtrControl;
    Sim::SetCommStateOf(5, dcb);
    PassEscape = Device.EscapeCommFunction;
    int before = Sim::CallCount(Sim::CALL_SET_COMM_STATE);
    // Look at the device's settings whenever the test drives a line.
    DrivenLineSettings.clear();
    Device.EscapeCommFunction = RecordSettingsAndEscape;
    RunLoopbackTest(port);
    Device.EscapeCommFunction = PassEscape;
    ASSERT_EQ(8u, DrivenLineSettings.size());
    for (const DCB& seen : DrivenLineSettings) {
        EXPECT_EQ((DWORD)RTS_CONTROL_DISABLE, seen.fRtsControl);
        EXPECT_EQ((DWORD)DTR_CONTROL_DISABLE, seen.fDtrControl);
        EXPECT_EQ(dcb.BaudRate, seen.BaudRate);
    }
    EXPECT_EQ(before + 2, Sim::CallCount(Sim::CALL_SET_COMM_STATE));
    DCB after = Sim::CommState(5);
    EXPECT_EQ(GetParam().rtsControl, after.fRtsControl);
    EXPECT_EQ(GetParam().dtrControl, after.fDtrControl);
    EXPECT_EQ(dcb.BaudRate, after.BaudRate);
    EXPECT_EQ("COM5 passed the loopback test.", LastText());
}

INSTANTIATE_TEST_SUITE_P(
    Modes, LoopbackTestHandshake,
    testing::Values(HandshakeCase{"RtsHandshake", RTS_CONTROL_HANDSHAKE, DTR_CONTROL_ENABLE},
                    HandshakeCase{"RtsToggle", RTS_CONTROL_TOGGLE, DTR_CONTROL_ENABLE},
                    HandshakeCase{"DtrHandshake", RTS_CONTROL_ENABLE, DTR_CONTROL_HANDSHAKE},
                    HandshakeCase{"BothHandshake", RTS_CONTROL_HANDSHAKE, DTR_CONTROL_HANDSHAKE}),
    [](const testing::TestParamInfo<HandshakeCase>& info) { return info.param.name; });

// --- failures the test must judge soundly ---

TEST_F(LoopbackTest, UnreadableModemStatusCountsAsInputsOff)
{
    Open(Sim::WIRE_LOOPBACK_PLUG_RI);
    Sim::FailCall(Sim::CALL_GET_MODEM_STATUS, ERROR_BAD_COMMAND, -1, 5);
    RunLoopbackTest(port);
    EXPECT_EQ("Port failed loopback test(Error:eH)", LastText());
}

TEST_F(LoopbackTest, UnreadableLineStatusCountsAsEmptyQueue)
{
    Open(Sim::WIRE_LOOPBACK_PLUG);
    Sim::FailCall(Sim::CALL_CLEAR_COMM_ERROR, ERROR_INVALID_HANDLE, 1, 5);
    RunLoopbackTest(port);
    EXPECT_EQ("Port failed loopback test(Error:10H)", LastText());
    EXPECT_EQ(0, Sim::CallCount(Sim::CALL_READ_FILE, 5));
}

TEST_F(LoopbackTest, ReadDeliveringNothingFailsTheFirstByteCheckOnly)
{
    Open(Sim::WIRE_LOOPBACK_PLUG);
    Sim::NextReadShort(5, 0);
    RunLoopbackTest(port);
    // The buffer starts zeroed, so the end check sees 0 and the first byte is not "T".
    EXPECT_EQ("Port failed loopback test(Error:40H)", LastText());
}

// --- the port closed by a log-off while a box is up ---

struct LogOffCase {
    const char* name;
    void (*arrange)();
    const char* during; // the box that is up when the log-off comes
    size_t boxes;       // the question and the box above
};

class LoopbackTestLogOff : public LoopbackTest, public testing::WithParamInterface<LogOffCase>
{
};

TEST_P(LoopbackTestLogOff, FreedRecordAndDeviceAreLeftAloneAndNoResultFollows)
{
    inStorage = true;
    Open(Sim::WIRE_LOOPBACK_PLUG);
    GetParam().arrange();
    int calls = 0;
    recorder.onBox = [&](const ShownBox& box) {
        if (box.text == GetParam().during) {
            DestroyPortLikeItsWindow();
            calls = AllDeviceCalls();
        }
    };
    RunLoopbackTest(port);
    ASSERT_EQ(GetParam().boxes, recorder.boxes.size());
    EXPECT_EQ(GetParam().during, recorder.boxes.back().text);
    EXPECT_TRUE(StorageUntouched());
    EXPECT_EQ(calls, AllDeviceCalls());
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, LoopbackTestLogOff,
    testing::Values(LogOffCase{"Question", [] {}, "Place the loopback plug on COM5", 1},
                    LogOffCase{"Result", [] {}, "COM5 passed the loopback test.", 2},
                    LogOffCase{
                        "WriteError",
                        [] { Sim::FailCall(Sim::CALL_WRITE_FILE, ERROR_INVALID_PARAMETER, 1, 5); },
                        "Com Write Error:87", 2},
                    LogOffCase{"ReadError", [] { Sim::NextReadShort(5, 3); },
                               "ComRead Error B Bytes, got: 3 ,Wanted: 8", 2}),
    [](const testing::TestParamInfo<LogOffCase>& info) { return info.param.name; });

TEST_F(LoopbackTest, LogOffDeletingTheRecordDuringTheResultBox)
{
    Open(Sim::WIRE_LOOPBACK_PLUG);
    recorder.onBox = [&](const ShownBox&) {
        if (recorder.boxes.size() == 2) {
            delete port;
            destroyed = true;
        }
    };
    RunLoopbackTest(port);
    EXPECT_EQ(2u, recorder.boxes.size());
    EXPECT_EQ(nullptr, PortListHead);
    EXPECT_EQ(0, Sim::OpenHandles());
}

// --- the same through the real frame and port window ---

class LoopbackTestFrame : public testing::Test
{
  protected:
    SimulatedAdapter adapter;
    BoxRecorder recorder;

    void SetUp() override
    {
        ResetProgramState();
        StartFrameOnce();
        ASSERT_TRUE(IsWindow(FrameWindow));
        Sim::AddPort(5, Sim::WIRE_LOOPBACK_PLUG);
        ASSERT_NE(nullptr, OpenPortWindow(5));
    }

    void TearDown() override
    {
        CloseAllPortWindows();
        PumpMessages(200);
        ResetProgramState();
    }

    // A log-off query at the frame while box number `during` is up.
    void LogOffDuringBox(size_t during, int* callsAfterLogOff)
    {
        recorder.onBox = [this, during, callsAfterLogOff](const ShownBox&) {
            if (recorder.boxes.size() != during)
                return;
            SendMessageA(FrameWindow, WM_QUERYENDSESSION, 0, 0);
            *callsAfterLogOff = AllDeviceCalls();
        };
    }
};

TEST_F(LoopbackTestFrame, Command225AtTheFrameTestsTheActivePort)
{
    SendMessageA(FrameWindow, WM_COMMAND, CMD_LOOPBACK_TEST, 0);
    EXPECT_EQ((std::vector<std::string>{"Place the loopback plug on COM5",
                                        "COM5 passed the loopback test."}),
              recorder.Texts());
    ASSERT_NE(nullptr, PortListHead);
    EXPECT_EQ(0, PortListHead->testInProgress);
}

TEST_F(LoopbackTestFrame, LogOffDuringTheQuestionOrTheResultClosesThePortSafely)
{
    for (size_t during : {1, 2}) {
        SCOPED_TRACE(during == 1 ? "question" : "result");
        if (during == 2) {
            recorder.boxes.clear();
            Sim::AddPort(6, Sim::WIRE_LOOPBACK_PLUG);
            ASSERT_NE(nullptr, OpenPortWindow(6));
        }
        int calls = -1;
        LogOffDuringBox(during, &calls);
        SendMessageA(FrameWindow, WM_COMMAND, CMD_LOOPBACK_TEST, 0);
        EXPECT_EQ(during, recorder.boxes.size());
        EXPECT_EQ(nullptr, PortListHead);
        EXPECT_EQ(0, PortWindowCount());
        EXPECT_EQ(calls, AllDeviceCalls());
        EXPECT_EQ(0, Sim::OpenHandles());
    }
}
