#include "app/state.h"
#include "port/device.h"
#include "port/poll.h"
#include "port/port_record.h"
#include "port/transfer.h"
#include "sim/sim.h"
#include "tests/pixel_window.h"
#include "tests/test_support.h"
#include "view/paint.h"
#include "view/screen.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

static std::string ExpectedPattern()
{
    const std::string alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::string pattern;
    for (int width = 5; width <= 46; width++)
        pattern += alphabet.substr(0, width) + "\r\n";
    return pattern;
}

// What the poll asks the device, recorded on top of the simulator.
static DeviceTable Simulated;
static std::vector<DWORD> ReadSizes;
static std::vector<HANDLE> StatusOrder;

static BOOL WINAPI RecordingReadFile(HANDLE device, LPVOID buffer, DWORD wanted, LPDWORD got,
                                     LPOVERLAPPED block)
{
    ReadSizes.push_back(wanted);
    return Simulated.ReadFile(device, buffer, wanted, got, block);
}

static BOOL WINAPI RecordingClearCommError(HANDLE device, LPDWORD errors, LPCOMSTAT status)
{
    StatusOrder.push_back(device);
    return Simulated.ClearCommError(device, errors, status);
}

class PollCycle : public testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        LayoutLampRows();
    }
    void SetUp() override
    {
        ResetProgramState();
        Simulated = Device;
        Device.ReadFile = RecordingReadFile;
        Device.ClearCommError = RecordingClearCommError;
        ReadSizes.clear();
        StatusOrder.clear();
    }
    void TearDown() override
    {
        // Closing the window's port, as the window's destroy handler would.
        while (PortListHead)
            delete PortListHead;
        screen.Close();
        ResetProgramState();
    }

    PortRecord* Open(int number)
    {
        Sim::AddPort(number);
        PortRecord* port = new PortRecord;
        char name[16];
        snprintf(name, sizeof name, "COM%d", number);
        if (OpenPort(port, name) != 0) {
            delete port;
            return nullptr;
        }
        return port;
    }

    // Gives the port a shown window of the given height to paint into.
    void Show(PortRecord* port, int height)
    {
        port->window = screen.Open(height);
        port->clientWidth = PixelWindow::Width;
        port->clientHeight = height;
    }

    static std::string Screen(PortRecord* port)
    {
        std::string text;
        for (const ScreenLine& l : port->lines)
            text += l.text;
        return text;
    }

    SimulatedAdapter adapter;
    BoxRecorder boxes;
    PixelWindow screen;
};

TEST(TestPatternBlock, HoldsFortyTwoGrowingLinesOf1155Bytes)
{
    TestPatternLength = 0;
    BuildTestPattern();
    ASSERT_EQ(1155, TestPatternLength);
    EXPECT_EQ(ExpectedPattern(), std::string(TestPattern, TestPatternLength));
    EXPECT_EQ(0, TestPattern[1155]);
    EXPECT_EQ(0, memcmp(TestPattern, "abcde\r\nabcdef\r\n", 15));
    EXPECT_EQ("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRST\r\n",
              std::string(TestPattern + 1155 - 48, 48));
}

TEST_F(PollCycle, PatternIsBuiltOnTheFirstPollThatSendsItAndGoesOnTheLine)
{
    TestPatternLength = 0;
    Open(5);
    PollAllPorts();
    EXPECT_EQ(0, TestPatternLength); // test data off: nothing built, nothing sent
    EXPECT_EQ(0, Sim::CallCount(Sim::CALL_WRITE_FILE, 5));

    TestDataOn = 1;
    PollAllPorts();
    EXPECT_EQ(1155, TestPatternLength);
    EXPECT_EQ(1, Sim::CallCount(Sim::CALL_WRITE_FILE, 5));
    Sim::Advance(2000);
    EXPECT_EQ(ExpectedPattern(), Sim::PeerTake(5));
}

TEST_F(PollCycle, ThreePortsEachSendThePatternWheneverTheirOwnQueueEmpties)
{
    TestDataOn = 1;
    PortRecord* ports[] = {Open(5), Open(6), Open(7)};
    ASSERT_TRUE(ports[0] && ports[1] && ports[2]);
    DCB fast = Sim::CommState(5);
    fast.BaudRate = 115200;
    Sim::SetCommStateOf(5, fast);

    PollAllPorts();
    for (int n = 5; n <= 7; n++)
        EXPECT_EQ(1, Sim::CallCount(Sim::CALL_WRITE_FILE, n)) << n;

    // 1,155 bytes take about 100 ms at 115,200 baud and 1.2 s at 9,600.
    Sim::Advance(200);
    ASSERT_EQ(0u, Sim::OutputQueue(5));
    ASSERT_NE(0u, Sim::OutputQueue(6));
    PollAllPorts();
    EXPECT_EQ(2, Sim::CallCount(Sim::CALL_WRITE_FILE, 5));
    EXPECT_EQ(1, Sim::CallCount(Sim::CALL_WRITE_FILE, 6));
    EXPECT_EQ(1, Sim::CallCount(Sim::CALL_WRITE_FILE, 7));

    Sim::Advance(1500);
    PollAllPorts();
    EXPECT_EQ(2, Sim::CallCount(Sim::CALL_WRITE_FILE, 6));
    EXPECT_EQ(2, Sim::CallCount(Sim::CALL_WRITE_FILE, 7));
    Sim::Advance(3000);
    const std::string twice = ExpectedPattern() + ExpectedPattern();
    for (int n = 6; n <= 7; n++)
        EXPECT_EQ(twice, Sim::PeerTake(n)) << n;
    EXPECT_EQ(0u, Sim::PeerTake(5).size() % 1155);
}

TEST_F(PollCycle, NoWriteWhileTheOutputQueueIsNotEmpty)
{
    TestDataOn = 1;
    Open(5);
    PollAllPorts();
    for (int i = 0; i < 10; i++) {
        Sim::Advance(50);
        ASSERT_NE(0u, Sim::OutputQueue(5));
        PollAllPorts();
    }
    EXPECT_EQ(1, Sim::CallCount(Sim::CALL_WRITE_FILE, 5));
}

TEST_F(PollCycle, AWriteThatNeverCompletesGetsNoNewPatternDespiteAnEmptyQueue)
{
    // A half-gone device: the queue reads empty, but the write stays pending.
    TestDataOn = 1;
    Open(5);
    Sim::NextWritePending(5, INFINITE);
    PollAllPorts();
    for (int i = 0; i < 20; i++) {
        Sim::Advance(2000);
        ASSERT_EQ(0u, Sim::OutputQueue(5));
        PollAllPorts();
    }
    EXPECT_EQ(1, Sim::CallCount(Sim::CALL_WRITE_FILE, 5));
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(PollCycle, QueuedInputIsReadInChunksOfAtMost5000Bytes)
{
    PortRecord* port = Open(5);
    Sim::SetQueueSizes(5, 20000, 4096);
    std::string data;
    for (int i = 0; i < 12000; i++)
        data += (char)('A' + i % 26);
    data[4999] = 0; // the last byte of the first chunk
    Sim::PeerSend(5, data.data(), (DWORD)data.size());
    ASSERT_EQ(12000u, Sim::InputQueue(5));

    PollAllPorts();
    EXPECT_EQ((std::vector<DWORD>{5000, 5000, 2000}), ReadSizes);
    EXPECT_EQ(0u, Sim::InputQueue(5));
    EXPECT_TRUE(boxes.boxes.empty());
    // The last chunk ends the screen, and a NUL inside counted data is a marker.
    std::string last = data.substr(12000 - 30);
    EXPECT_NE(std::string::npos, Screen(port).find(last));
    EXPECT_EQ(0, port->receiveBuffer[2000]);
    EXPECT_EQ(0, memcmp(port->receiveBuffer, data.data() + 10000, 2000));
}

TEST_F(PollCycle, NulBytesReachTheScreenAsMarkers)
{
    PortRecord* port = Open(5);
    Sim::PeerSend(5, "a\0b\0", 4);
    PollAllPorts();
    EXPECT_STREQ("a<0H>b<0H>", port->lines[0].text);
}

TEST_F(PollCycle, AFailedChunkIsReportedAndTheDrainGoesOn)
{
    PortRecord* port = Open(5);
    Sim::SetQueueSizes(5, 20000, 4096);
    std::string data(6000, 'z');
    Sim::PeerSend(5, data.data(), (DWORD)data.size());
    Sim::FailCall(Sim::CALL_READ_FILE, ERROR_GEN_FAILURE, 1, 5);
    PollAllPorts();
    EXPECT_EQ((std::vector<DWORD>{5000, 1000}), ReadSizes);
    EXPECT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ(0, strncmp(port->lines[0].text, "Error reading dataz", 19));
    EXPECT_EQ(5000u, Sim::InputQueue(5));
}

// The counts of a failed status read are taken as 0 and 0.
TEST_F(PollCycle, UnreadableLineStatusDrainsNothing)
{
    PortRecord* port = Open(5);
    Sim::PeerSend(5, "data", 4);
    Sim::FailCall(Sim::CALL_CLEAR_COMM_ERROR, ERROR_INVALID_HANDLE, 1, 5);
    PollAllPorts();
    EXPECT_TRUE(ReadSizes.empty());
    EXPECT_EQ(4u, Sim::InputQueue(5));
    char expected[80];
    snprintf(expected, sizeof expected, "<ERR 6H,ClearCommError, COM5, handle:%x>",
             (unsigned)(UINT_PTR)port->device);
    EXPECT_STREQ(expected, Screen(port).c_str());

    PollAllPorts(); // the next poll reads normally
    EXPECT_EQ(std::string(expected) + "data", Screen(port));
}

TEST_F(PollCycle, PortsArePolledNewestFirst)
{
    PortRecord* a = Open(5);
    PortRecord* b = Open(6);
    PortRecord* c = Open(7);
    PollAllPorts();
    EXPECT_EQ((std::vector<HANDLE>{c->device, b->device, a->device}), StatusOrder);
}

TEST_F(PollCycle, PortUnderTestIsNeitherSentToNorDrainedButItsLampsUpdate)
{
    TestDataOn = 1;
    PortRecord* port = Open(5);
    Show(port, 100);
    port->testInProgress = 1;
    Sim::PeerSend(5, "echo", 4);
    Sim::SetPeerSignals(5, MS_CTS_ON);
    PollAllPorts();
    EXPECT_EQ(0, Sim::CallCount(Sim::CALL_WRITE_FILE, 5));
    EXPECT_TRUE(ReadSizes.empty());
    EXPECT_EQ(4u, Sim::InputQueue(5));
    EXPECT_EQ(SIGNAL_CTS, port->inputSignals);
    EXPECT_EQ(SIGNAL_CTS, port->paintedInputSignals);
    EXPECT_EQ(LitGreen, screen.Pixel(SignalLampX[0] + 1, LampFillY));

    port->testInProgress = 0;
    PollAllPorts();
    EXPECT_EQ(1, Sim::CallCount(Sim::CALL_WRITE_FILE, 5));
    EXPECT_STREQ("echo", port->lines[0].text);
}

TEST_F(PollCycle, NewPortIsRepaintedOnItsFirstPoll)
{
    PortRecord* port = Open(5);
    Show(port, 100);
    PollAllPorts();
    EXPECT_EQ(port->outputSignals, port->paintedOutputSignals);
    EXPECT_EQ(port->inputSignals, port->paintedInputSignals);
    EXPECT_EQ(LitGreen, screen.Pixel(SignalLampX[4] + 1, LampFillY)); // RTS
    EXPECT_EQ(DarkGrey, screen.Pixel(SignalLampX[0] + 1, LampFillY)); // CTS
    EXPECT_EQ(0, port->windowDirty);
}

TEST_F(PollCycle, AModemInputChangeAloneRepaintsAndNoChangeRepaintsNothing)
{
    PortRecord* port = Open(5);
    Show(port, 100);
    PollAllPorts();
    screen.Scribble(0, 0, PixelWindow::Width, 18);
    PollAllPorts();
    EXPECT_TRUE(screen.AllOf(Background, 0, 0, PixelWindow::Width, 18));

    Sim::SetPeerSignals(5, MS_DSR_ON);
    PollAllPorts();
    EXPECT_EQ(SIGNAL_DSR, port->paintedInputSignals);
    EXPECT_EQ(LitGreen, screen.Pixel(SignalLampX[1] + 1, LampFillY));
    EXPECT_EQ(DarkGrey, screen.Pixel(SignalLampX[0] + 1, LampFillY));
    EXPECT_EQ(0, port->windowDirty);
}

TEST_F(PollCycle, TooSmallWindowIsPassedToRedrawAtEveryPoll)
{
    PortRecord* port = Open(5);
    Show(port, 100);
    port->clientHeight = 20;
    for (int i = 0; i < 3; i++) {
        PollAllPorts();
        EXPECT_EQ(255, port->paintedInputSignals);
        EXPECT_EQ(0, port->windowDirty);
    }
    EXPECT_TRUE(screen.AllOf(Background, 0, 0, PixelWindow::Width, 100));

    // Nothing new arrived, yet the next poll paints once the window is big enough.
    port->clientHeight = 100;
    PollAllPorts();
    EXPECT_EQ(port->outputSignals, port->paintedOutputSignals);
    EXPECT_EQ(LitGreen, screen.Pixel(SignalLampX[5] + 1, LampFillY)); // DTR
}

TEST_F(PollCycle, ReceivedTextIsPaintedInTheSamePoll)
{
    PortRecord* port = Open(5);
    Show(port, 14 * 3);
    Sim::PeerSend(5, "HELLO", 5);
    PollAllPorts();
    EXPECT_EQ(0, port->lines[0].dirty);
    EXPECT_GT(screen.CountOf(Black, 10, 14 * 2 + 4, 100, 14 * 3), 5);
}

TEST_F(PollCycle, ABoxShownDuringAPollDoesNotStartANestedPoll)
{
    PortRecord* port = Open(5);
    Open(6);
    Sim::PeerSend(5, "x", 1);
    Sim::FailCall(Sim::CALL_READ_FILE, ERROR_GEN_FAILURE, 1, 5);
    int nestedStatusReads = -1;
    boxes.onBox = [&](const ShownBox&) {
        // The box's message loop delivers a timer tick.
        int before = Sim::CallCount(Sim::CALL_CLEAR_COMM_ERROR);
        PollAllPorts();
        nestedStatusReads = Sim::CallCount(Sim::CALL_CLEAR_COMM_ERROR) - before;
    };
    PollAllPorts();
    ASSERT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ(0, nestedStatusReads);
    EXPECT_STREQ("Error reading data", port->lines[0].text);

    boxes.onBox = nullptr;
    Sim::PeerSend(5, "y", 1);
    PollAllPorts(); // the guard is released after the outer poll
    EXPECT_EQ(2, Sim::CallCount(Sim::CALL_CLEAR_COMM_ERROR, 5));
    EXPECT_NE(std::string::npos, Screen(port).find("y"));
}

// A port window closed inside a box deletes its record, which the test's
// allocator then fills with 0xDD: touching it again would crash the walk.
TEST_F(PollCycle, ARecordDeletedDuringItsOwnBoxIsNotTouchedAndTheWalkStops)
{
    PortRecord* older = Open(5);
    PortRecord* middle = Open(6);
    PortRecord* newest = Open(7);
    Sim::PeerSend(6, "x", 1);
    Sim::FailCall(Sim::CALL_READ_FILE, ERROR_GEN_FAILURE, 1, 6);
    boxes.onBox = [&](const ShownBox&) { delete middle; };
    PollAllPorts();
    ASSERT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ(newest, PortListHead);
    EXPECT_EQ(older, newest->next);
    EXPECT_EQ(0, Sim::CallCount(Sim::CALL_CLEAR_COMM_ERROR, 5));

    boxes.onBox = nullptr;
    PollAllPorts();
    EXPECT_EQ(1, Sim::CallCount(Sim::CALL_CLEAR_COMM_ERROR, 5));
    EXPECT_EQ(2, Sim::CallCount(Sim::CALL_CLEAR_COMM_ERROR, 7));
}

TEST_F(PollCycle, ARecordDeletedDuringAModemStatusBoxIsNotServicedFurther)
{
    TestDataOn = 1;
    PortRecord* port = Open(5);
    Sim::PeerSend(5, "x", 1);
    Sim::FailCall(Sim::CALL_GET_MODEM_STATUS, ERROR_GEN_FAILURE, 1, 5);
    boxes.onBox = [&](const ShownBox&) { delete port; };
    PollAllPorts();
    EXPECT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ(nullptr, PortListHead);
    EXPECT_EQ(0, Sim::CallCount(Sim::CALL_WRITE_FILE));
    EXPECT_TRUE(ReadSizes.empty());
}

TEST_F(PollCycle, ARecordDeletedDuringAWriteBoxIsNotDrained)
{
    TestDataOn = 1;
    PortRecord* port = Open(5);
    Sim::PeerSend(5, "x", 1);
    Sim::FailCall(Sim::CALL_WRITE_FILE, ERROR_GEN_FAILURE, 1, 5);
    boxes.onBox = [&](const ShownBox&) { delete port; };
    PollAllPorts();
    EXPECT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ(nullptr, PortListHead);
    EXPECT_TRUE(ReadSizes.empty());
}

TEST_F(PollCycle, TheNextRecordDeletedDuringABoxIsNotVisited)
{
    PortRecord* older = Open(5);
    PortRecord* newest = Open(6);
    Sim::PeerSend(6, "x", 1);
    Sim::FailCall(Sim::CALL_READ_FILE, ERROR_GEN_FAILURE, 1, 6);
    boxes.onBox = [&](const ShownBox&) { delete older; };
    PollAllPorts();
    EXPECT_EQ(newest, PortListHead);
    EXPECT_EQ(nullptr, newest->next);
    EXPECT_STREQ("Error reading data", newest->lines[0].text);
    EXPECT_EQ(0, Sim::CallCount(Sim::CALL_CLEAR_COMM_ERROR, 5));
}
