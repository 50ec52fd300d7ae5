// The driver's internal loopback switch: the probe at open and the switch itself.
#include "app/state.h"
#include "port/device.h"
#include "port/loopback.h"
#include "port/port_record.h"
#include "port/transfer.h"
#include "sim/sim.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <vector>

static std::vector<DWORD> ControlCodes;
static BOOL(WINAPI* SimDeviceIoControl)(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD,
                                        LPOVERLAPPED);
static BOOL WINAPI RecordControlCode(HANDLE h, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                     DWORD outSize, LPDWORD returned, LPOVERLAPPED block)
{
    ControlCodes.push_back(code);
    return SimDeviceIoControl(h, code, in, inSize, out, outSize, returned, block);
}

class LoopbackSwitch : public testing::Test
{
  protected:
    void SetUp() override
    {
        ResetProgramState();
        Sim::AddPort(5);
        ControlCodes.clear();
        SimDeviceIoControl = Device.DeviceIoControl;
        Device.DeviceIoControl = RecordControlCode;
    }
    void TearDown() override
    {
        delete port;
        ResetProgramState();
    }
    void Open()
    {
        port = new PortRecord;
        ASSERT_EQ(0, OpenPort(port, "COM5"));
    }

    SimulatedAdapter adapter;
    BoxRecorder boxes;
    PortRecord* port = nullptr;
};

TEST_F(LoopbackSwitch, ADriverAnswering1GivesTheLoopLamp)
{
    Sim::SetLoopbackAnswer(5, 1);
    Open();
    EXPECT_EQ(1, port->loopbackCapable);
    EXPECT_EQ(7, port->signalLampCount);
    EXPECT_EQ(std::vector<DWORD>{0x1B2018}, ControlCodes); // the probe asks for loop off
    EXPECT_FALSE(Sim::LoopbackOn(5));
    EXPECT_EQ(SIGNAL_DTR | SIGNAL_RTS, port->outputSignals);
}

TEST_F(LoopbackSwitch, ADriverRefusingTheRequestGivesSixLamps)
{
    Sim::SetLoopbackAnswer(5, 0);
    Open();
    EXPECT_EQ(0, port->loopbackCapable);
    EXPECT_EQ(6, port->signalLampCount);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(LoopbackSwitch, AnAnswerOtherThan1DoesNotCount)
{
    Sim::SetLoopbackAnswer(5, 2);
    Open();
    EXPECT_EQ(0, port->loopbackCapable);
    EXPECT_EQ(6, port->signalLampCount);
}

TEST_F(LoopbackSwitch, OtherPlatformsUseTheEscapeFunctions)
{
    PlatformId = VER_PLATFORM_WIN32_WINDOWS;
    Open();
    EXPECT_EQ(7, port->signalLampCount);
    SetLoopback(port, 1);
    SetLoopback(port, 0);
    EXPECT_TRUE(ControlCodes.empty());
    EXPECT_EQ((std::vector<DWORD>{15649, 15648, 15649}), Sim::Escapes(5));
}

TEST_F(LoopbackSwitch, TheNtFamilyUsesTheControlCodes)
{
    Open();
    SetLoopback(port, 1);
    EXPECT_TRUE(Sim::LoopbackOn(5));
    SetLoopback(port, 0);
    EXPECT_FALSE(Sim::LoopbackOn(5));
    EXPECT_EQ((std::vector<DWORD>{0x1B2018, 0x1B2014, 0x1B2018}), ControlCodes);
    EXPECT_TRUE(Sim::Escapes(5).empty());
}

TEST_F(LoopbackSwitch, TheLoopBitRecordsTheRequestWhateverTheDriverSays)
{
    Sim::SetLoopbackAnswer(5, 0);
    Open();
    SetLoopback(port, 1);
    EXPECT_EQ(SIGNAL_DTR | SIGNAL_RTS | SIGNAL_LOOP, port->outputSignals);
    SetLoopback(port, 0);
    EXPECT_EQ(SIGNAL_DTR | SIGNAL_RTS, port->outputSignals);
    EXPECT_TRUE(boxes.boxes.empty());
}
