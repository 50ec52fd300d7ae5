// The engine against a real COM port under Wine: COM40 is linked to a
// pseudo-terminal whose far end echoes every byte (tools/pty-peer.py).
#include "app/state.h"
#include "port/device.h"
#include "port/port_record.h"
#include "port/status.h"
#include "port/transfer.h"
#include "tests/test_support.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>

class PtyDataPath : public testing::Test
{
  protected:
    void SetUp() override
    {
        ResetProgramState();
        Device = SystemDevice;
    }
    void TearDown() override
    {
        ResetProgramState();
    }

    // Polls the queue counts until `expected` bytes are queued: readiness
    // polling with a bound, the echo takes a few milliseconds.
    static DWORD WaitForInput(PortRecord* port, DWORD expected)
    {
        QueueCounts counts = {0, 0};
        for (int i = 0; i < 500; i++) {
            PollLineStatus(port, &counts);
            if (counts.inQueue >= expected)
                break;
            Sleep(10);
        }
        return counts.inQueue;
    }

    // Reads whatever is queued until `wanted` bytes came back.
    static std::string ReadBack(PortRecord* port, size_t wanted)
    {
        std::string received;
        char buffer[RECEIVE_BUFFER_SIZE];
        while (received.size() < wanted) {
            DWORD queued = WaitForInput(port, 1);
            if (queued == 0)
                break;
            if (queued > sizeof buffer)
                queued = sizeof buffer;
            DWORD count = 0;
            if (ReadPort(port, buffer, queued, &count) != 0)
                break;
            received.append(buffer, count);
        }
        return received;
    }

    BoxRecorder boxes;
};

TEST_F(PtyDataPath, BytesWrittenComeBackThroughReadPort)
{
    PortRecord* port = new PortRecord;
    ASSERT_EQ(0, OpenPort(port, "COM40"));
    EXPECT_EQ(port, PortListHead);
    EXPECT_EQ(6, port->signalLampCount); // no driver loopback on a pty

    std::string sent = "Hello, COM40\r\n";
    WritePort(port, sent.c_str(), 0);
    std::string received = ReadBack(port, sent.size());
    EXPECT_EQ(sent, received);

    delete port;
    EXPECT_EQ(nullptr, PortListHead);
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(PtyDataPath, EveryByteValueSurvivesTheRoundTrip)
{
    PortRecord* port = new PortRecord;
    ASSERT_EQ(0, OpenPort(port, "COM40"));
    std::string sent;
    for (int round = 0; round < 4; round++)
        for (int value = 0; value < 256; value++)
            sent += (char)value;
    for (size_t at = 0; at < sent.size(); at += 200)
        WritePort(port, sent.data() + at, (DWORD)std::min<size_t>(200, sent.size() - at));
    std::string received = ReadBack(port, sent.size());
    ASSERT_EQ(sent.size(), received.size());
    EXPECT_TRUE(sent == received);
    delete port;
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(PtyDataPath, ASecondOpenOfTheSamePortIsRefused)
{
    PortRecord* first = new PortRecord;
    ASSERT_EQ(0, OpenPort(first, "COM40"));
    PortRecord* second = new PortRecord;
    EXPECT_EQ(1, OpenPort(second, "com40"));
    EXPECT_EQ(nullptr, second->device);
    ASSERT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ("Error from CreateFile: 5 com40 0", boxes.boxes[0].text);
    EXPECT_EQ(first, PortListHead);
    EXPECT_EQ(nullptr, first->next);
    delete second;
    delete first;
}

TEST_F(PtyDataPath, AMissingPortFailsWithCode2)
{
    PortRecord* port = new PortRecord;
    EXPECT_EQ(1, OpenPort(port, "COM39"));
    ASSERT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ("Error from CreateFile: 2 COM39 0", boxes.boxes[0].text);
    EXPECT_EQ(nullptr, PortListHead);
    delete port;
}
