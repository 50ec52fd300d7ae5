// The simulated adapter behaves as a driver where the other tests rely on it:
// overlapped completion, aborts, fault injection and the call log.
#include "port/device.h"
#include "tests/support.h"

#include <string.h>

class Simulator : public SimTest
{
  protected:
    HANDLE OpenDevice(int number, bool add = true)
    {
        if (add)
            Sim::AddPort(number);
        std::string path = "\\\\.\\COM" + std::to_string(number);
        return Device.CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    }
    OVERLAPPED Block()
    {
        OVERLAPPED o = {};
        o.hEvent = Device.CreateEventA(nullptr, TRUE, FALSE, nullptr);
        return o;
    }
};

TEST_F(Simulator, PendingReadsFillTheBufferOnlyOnCompletion)
{
    HANDLE h = OpenDevice(2);
    Sim::PeerSend(2, "abcd", 4);
    OVERLAPPED o = Block();
    char buffer[11] = "----------";
    DWORD n;
    EXPECT_FALSE(Device.ReadFile(h, buffer, 10, &n, &o));
    EXPECT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, Device.WaitForSingleObject(o.hEvent, 50));
    EXPECT_STREQ("----------", buffer);
    Sim::PeerSend(2, "efghijk", 7);
    EXPECT_TRUE(Device.GetOverlappedResult(h, &o, &n, FALSE));
    EXPECT_EQ(10u, n);
    EXPECT_STREQ("abcdefghij", buffer);
}

TEST_F(Simulator, PurgeCloseAndHeldRequests)
{
    for (int mode = 0; mode < 3; mode++) { // purge, close, a driver that holds on
        Sim::Reset();
        HANDLE h = OpenDevice(2);
        if (mode == 2)
            Sim::HoldRequests(2);
        Sim::NextReadPending(2, 3, mode == 2 ? 500 : INFINITE);
        OVERLAPPED o = Block();
        char buffer[4] = "";
        DWORD n;
        EXPECT_FALSE(Device.ReadFile(h, buffer, 3, &n, &o));
        if (mode == 0)
            EXPECT_TRUE(Device.PurgeComm(h, PURGE_RXABORT));
        else
            EXPECT_TRUE(Device.CloseHandle(h));
        EXPECT_EQ(mode == 2, Sim::OutstandingRequests(2) == 1);
        EXPECT_EQ(mode != 2, Device.WaitForSingleObject(o.hEvent, 0) == WAIT_OBJECT_0);
        memset(&o, 0x5A, sizeof o); // an aborted request is never touched again
        Sim::Advance(1000);
        EXPECT_EQ(mode == 2, o.Internal != 0x5A5A5A5A5A5A5A5Aull) << mode;
    }
}

TEST_F(Simulator, FaultsHitTheirPortAfterSkippingAndAreLogged)
{
    HANDLE h3 = OpenDevice(3), h4 = OpenDevice(4);
    Sim::StartCallLog();
    Sim::FailCall(Sim::CALL_GET_MODEM_STATUS, 31, 2, 4, 1);
    DWORD status;
    EXPECT_TRUE(Device.GetCommModemStatus(h4, &status));
    EXPECT_TRUE(Device.GetCommModemStatus(h3, &status));
    EXPECT_FALSE(Device.GetCommModemStatus(h4, &status));
    EXPECT_EQ(31u, GetLastError());
    EXPECT_FALSE(Device.GetCommModemStatus(h4, &status));
    EXPECT_TRUE(Device.GetCommModemStatus(h4, &status));
    Device.EscapeCommFunction(h3, SETBREAK);
    ASSERT_EQ(6u, Sim::CallLog().size());
    EXPECT_EQ(3, Sim::CallLog()[1].number);
    EXPECT_EQ((DWORD)SETBREAK, Sim::CallLog()[5].value);
    Sim::Unplug(3); // every call fails but close; a new open fails with 2
    EXPECT_FALSE(Device.GetCommModemStatus(h3, &status));
    EXPECT_EQ((DWORD)ERROR_BAD_COMMAND, GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenDevice(3, false));
    EXPECT_TRUE(Device.CloseHandle(h3));
    EXPECT_TRUE(Device.CloseHandle(h4));
    EXPECT_EQ(0, Sim::OpenHandles());
}
