// The loopback test on a real COM port under Wine: COM41 is a pseudo-terminal
// whose far end echoes every byte (tools/pty-peer.py). Wine cannot read or
// drive the modem lines of a pty, so the signal steps fail and the data echo
// passes.
#include "app/state.h"
#include "dialogs/dialogs.h"
#include "port/device.h"
#include "port/port_record.h"
#include "port/transfer.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

class LoopbackPty : public testing::Test
{
  protected:
    BoxRecorder recorder;
    PortRecord* port = nullptr;

    void SetUp() override
    {
        ResetProgramState();
        Device = SystemDevice;
        port = new PortRecord;
        ASSERT_EQ(0, OpenPort(port, "COM41")) << "run under tools/pty-peer.py --port com41=echo";
        recorder.boxes.clear();
        ASSERT_TRUE(Device.GetCommState(port->device, &port->dcb));
        port->dcb.BaudRate = 9600;
        port->dcb.ByteSize = 8;
        port->dcb.Parity = NOPARITY;
        port->dcb.StopBits = ONESTOPBIT;
        port->dcb.fOutX = FALSE;
        port->dcb.fInX = FALSE;
        ASSERT_TRUE(Device.SetCommState(port->device, &port->dcb));
    }

    void TearDown() override
    {
        delete port;
        ResetProgramState();
    }
};

TEST_F(LoopbackPty, EchoingPeerPassesDataButNotModemLines)
{
    RunLoopbackTest(port);
    ASSERT_EQ(2u, recorder.boxes.size());
    EXPECT_EQ("Place the loopback plug on COM41", recorder.boxes[0].text);
    EXPECT_EQ("Port failed loopback test(Error:eH)", recorder.boxes[1].text);
    EXPECT_EQ((UINT)MB_ICONERROR, recorder.boxes[1].style);
    EXPECT_EQ(0, port->testInProgress);
}

TEST_F(LoopbackPty, EchoIsConsumedByTheTest)
{
    RunLoopbackTest(port);
    COMSTAT status = {};
    DWORD errors = 0;
    ASSERT_TRUE(ClearCommError(port->device, &errors, &status));
    EXPECT_EQ(0u, status.cbInQue);
}
