// Line status (queue counts, hold flags, line-error markers) and modem inputs.
#include "app/state.h"
#include "port/device.h"
#include "port/port_record.h"
#include "port/status.h"
#include "port/transfer.h"
#include "sim/sim.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <string>
#include <vector>

class Status : public testing::Test
{
  protected:
    void SetUp() override
    {
        ResetProgramState();
        Sim::AddPort(5);
        port = new PortRecord;
        ASSERT_EQ(0, OpenPort(port, "COM5"));
        port->windowDirty = 0;
    }
    void TearDown() override
    {
        delete port;
        ResetProgramState();
    }
    // Everything written into the screen so far, lines joined.
    std::string Screen()
    {
        std::string text;
        for (int i = 0; i <= port->currentLine; i++)
            text += port->lines[i].text;
        return text;
    }
    QueueCounts Poll()
    {
        QueueCounts counts = {12345, 12345};
        EXPECT_EQ(0, PollLineStatus(port, &counts));
        return counts;
    }

    SimulatedAdapter adapter;
    BoxRecorder boxes;
    PortRecord* port = nullptr;
};

TEST_F(Status, CountsAreOutputQueueFirstInputQueueSecond)
{
    Sim::PeerSend(5, "twelve bytes", 12);
    std::string block(300, 'o');
    WritePort(port, block.data(), (DWORD)block.size());
    QueueCounts counts = Poll();
    EXPECT_EQ(12u, counts.inQueue);
    EXPECT_EQ(Sim::OutputQueue(5), counts.outQueue);
    EXPECT_GT(counts.outQueue, 0u);
    EXPECT_EQ(12u, port->lineStatus.cbInQue);
}

TEST_F(Status, FrameAndOverrunAppearInTableOrder)
{
    Sim::InjectLineErrors(5, CE_FRAME | CE_OVERRUN);
    Poll();
    EXPECT_EQ("<ERR:FRAME><ERR:OVERRUN>", Screen());
    EXPECT_EQ(1, port->windowDirty);
}

TEST_F(Status, AllElevenErrorsAppearInTableOrder)
{
    Sim::InjectLineErrors(5, CE_BREAK | CE_FRAME | CE_IOE | CE_MODE | CE_OVERRUN | CE_RXOVER |
                                 CE_RXPARITY | CE_TXFULL | CE_DNS | CE_PTO | CE_OOP);
    Poll();
    EXPECT_EQ("<ERR:BREAK><ERR:FRAME><ERR:IOE><ERR:MODE><ERR:OVERRUN><ERR:RXOVER>"
              "<ERR:RXPARITY><ERR:TXFULL><ERR:DNS><ERR:PTO><ERR:OOP>",
              Screen());
}

TEST_F(Status, AnErrorBitOutsideTheTableAddsNothing)
{
    port->paintedStatus.holdFlags = Sim::HoldFlagsOf(5);
    Sim::InjectLineErrors(5, 0x0020);
    Poll();
    EXPECT_EQ("", Screen());
    EXPECT_EQ(0, port->windowDirty);
}

TEST_F(Status, ErrorsAreReportedOnlyOnce)
{
    Sim::InjectLineErrors(5, CE_BREAK);
    Poll();
    Poll();
    EXPECT_EQ("<ERR:BREAK>", Screen());
}

TEST_F(Status, AHoldFlagChangeAloneMarksTheWindow)
{
    port->paintedStatus.holdFlags = Sim::HoldFlagsOf(5);
    Poll();
    EXPECT_EQ(0, port->windowDirty);
    ASSERT_TRUE(Device.EscapeCommFunction(port->device, SETXOFF));
    Poll();
    EXPECT_EQ(1, port->windowDirty);
    EXPECT_NE(0u, HoldFlags(port->lineStatus));
    EXPECT_EQ("", Screen());
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Status, AnUnreadableLineStatusIsWrittenIntoTheScreenWithCounts0)
{
    Sim::PeerSend(5, "abc", 3);
    Sim::FailCall(Sim::CALL_CLEAR_COMM_ERROR, ERROR_INVALID_HANDLE);
    QueueCounts counts = Poll();
    EXPECT_EQ(0u, counts.outQueue);
    EXPECT_EQ(0u, counts.inQueue);
    char expected[100];
    snprintf(expected, sizeof expected, "<ERR 6H,ClearCommError, COM5, handle:%x>",
             (unsigned)(UINT_PTR)port->device);
    EXPECT_EQ(expected, Screen());
    EXPECT_EQ(1, port->windowDirty);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Status, CtsAndCdGiveInputSignals0x90)
{
    Sim::SetPeerSignals(5, MS_CTS_ON | MS_RLSD_ON);
    EXPECT_EQ(0, PollModemStatus(port));
    EXPECT_EQ(0x90, port->inputSignals);
}

TEST_F(Status, AllFourInputsAreTaken)
{
    Sim::SetPeerSignals(5, MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
    PollModemStatus(port);
    EXPECT_EQ(0xF0, port->inputSignals);
    Sim::SetPeerSignals(5, MS_DSR_ON | MS_RING_ON);
    PollModemStatus(port);
    EXPECT_EQ(0x60, port->inputSignals);
}

TEST_F(Status, AnUnreadableModemStatusDarkensTheInputsAndShowsOneBoxPerRun)
{
    Sim::SetPeerSignals(5, MS_CTS_ON | MS_RLSD_ON);
    PollModemStatus(port);
    ASSERT_EQ(0x90, port->inputSignals);
    Sim::FailCall(Sim::CALL_GET_MODEM_STATUS, ERROR_BAD_COMMAND, -1);
    for (int i = 0; i < 5; i++)
        PollModemStatus(port);
    EXPECT_EQ(0, port->inputSignals);
    EXPECT_EQ(std::vector<std::string>{"GetCommModemStatus Error:22"}, boxes.Texts());

    Sim::ClearFaults();
    PollModemStatus(port);
    EXPECT_EQ(0x90, port->inputSignals);
    Sim::FailCall(Sim::CALL_GET_MODEM_STATUS, ERROR_NOT_READY, -1);
    PollModemStatus(port);
    PollModemStatus(port);
    EXPECT_EQ(
        (std::vector<std::string>{"GetCommModemStatus Error:22", "GetCommModemStatus Error:21"}),
        boxes.Texts());
}

TEST_F(Status, EachPortHasItsOwnRunOfModemStatusFailures)
{
    Sim::AddPort(6);
    PortRecord* other = new PortRecord;
    ASSERT_EQ(0, OpenPort(other, "COM6"));
    Sim::FailCall(Sim::CALL_GET_MODEM_STATUS, ERROR_BAD_COMMAND, -1);
    for (int i = 0; i < 3; i++) {
        PollModemStatus(port);
        PollModemStatus(other);
    }
    EXPECT_EQ(2u, boxes.boxes.size());
    delete other;
}
