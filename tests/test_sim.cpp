#include "port/device.h"
#include "sim/sim.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

TEST(SimSmoke, OpensAPort)
{
    SimulatedAdapter adapter;
    Sim::AddPort(3, Sim::WIRE_LOOPBACK_PLUG);
    HANDLE h = Device.CreateFileA("\\\\.\\COM3", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(1, Sim::OpenHandles());
    EXPECT_TRUE(Device.CloseHandle(h));
    EXPECT_EQ(0, Sim::OpenHandles());
}
