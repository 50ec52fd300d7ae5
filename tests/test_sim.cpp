#include "port/device.h"
#include "sim/sim.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <string.h>
#include <string>

namespace
{

class SimTest : public testing::Test
{
  protected:
    SimulatedAdapter adapter;

    HANDLE Open(int number)
    {
        std::string path = "\\\\.\\COM" + std::to_string(number);
        return Device.CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
    }
    HANDLE AddAndOpen(int number, Sim::Wiring wiring = Sim::WIRE_NONE)
    {
        Sim::AddPort(number, wiring);
        return Open(number);
    }
    OVERLAPPED Block()
    {
        OVERLAPPED o;
        memset(&o, 0, sizeof o);
        o.hEvent = Device.CreateEventA(nullptr, TRUE, FALSE, nullptr);
        return o;
    }
    // A write that must complete at once.
    void Write(HANDLE h, const std::string& text)
    {
        OVERLAPPED o = Block();
        DWORD n = 0;
        ASSERT_TRUE(Device.WriteFile(h, text.data(), (DWORD)text.size(), &n, &o));
        EXPECT_EQ(text.size(), n);
        Device.CloseHandle(o.hEvent);
    }
    std::string Read(HANDLE h, DWORD wanted)
    {
        OVERLAPPED o = Block();
        std::string s(wanted, '\0');
        DWORD n = 0;
        EXPECT_TRUE(Device.ReadFile(h, &s[0], wanted, &n, &o));
        Device.CloseHandle(o.hEvent);
        s.resize(n);
        return s;
    }
    void SetLine(HANDLE h, DWORD baud, BYTE parity = NOPARITY, BYTE stopBits = ONESTOPBIT)
    {
        DCB d;
        ASSERT_TRUE(Device.GetCommState(h, &d));
        d.BaudRate = baud;
        d.Parity = parity;
        d.StopBits = stopBits;
        ASSERT_TRUE(Device.SetCommState(h, &d));
    }
    DWORD TakeErrors(HANDLE h, COMSTAT* stat = nullptr)
    {
        DWORD errors = 0xFFFF;
        COMSTAT local;
        EXPECT_TRUE(Device.ClearCommError(h, &errors, stat ? stat : &local));
        return errors;
    }
    DWORD ModemStatus(HANDLE h)
    {
        DWORD status = 0;
        EXPECT_TRUE(Device.GetCommModemStatus(h, &status));
        return status;
    }
};

// --- opening and handles ---

TEST_F(SimTest, OpensAddedPortsByEitherNameAndCountsHandles)
{
    HANDLE a = AddAndOpen(3);
    HANDLE b = Device.CreateFileA("com3", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, a);
    ASSERT_NE(INVALID_HANDLE_VALUE, b);
    EXPECT_NE(a, b);
    EXPECT_TRUE(Sim::IsOpen(3));
    HANDLE e = Device.CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(3, Sim::OpenHandles());
    EXPECT_TRUE(Device.CloseHandle(a));
    EXPECT_TRUE(Device.CloseHandle(b));
    EXPECT_TRUE(Device.CloseHandle(e));
    EXPECT_EQ(0, Sim::OpenHandles());
    EXPECT_FALSE(Sim::IsOpen(3));
    EXPECT_FALSE(Device.CloseHandle(a));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
}

TEST_F(SimTest, MissingPortFailsWithCode2)
{
    Sim::AddPort(3);
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open(4));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              Device.CreateFileA("\\\\.\\LPT3", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(0, Sim::OpenHandles());
}

TEST_F(SimTest, UnpluggedPortFailsEveryCallButClose)
{
    HANDLE h = AddAndOpen(5, Sim::WIRE_LOOPBACK_PLUG);
    Sim::Unplug(5);
    DWORD status;
    EXPECT_FALSE(Device.GetCommModemStatus(h, &status));
    EXPECT_EQ((DWORD)ERROR_BAD_COMMAND, GetLastError());
    DWORD errors;
    EXPECT_FALSE(Device.ClearCommError(h, &errors, nullptr));
    EXPECT_EQ((DWORD)ERROR_BAD_COMMAND, GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open(5));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_TRUE(Device.CloseHandle(h));
    EXPECT_EQ(0, Sim::OpenHandles());
}

// --- line rate ---

TEST_F(SimTest, NineHundredSixtyBytesAt9600TakeOneSecond)
{
    HANDLE h = AddAndOpen(1, Sim::WIRE_DATA_ONLY);
    Write(h, std::string(960, 'a'));
    EXPECT_EQ(960u, Sim::OutputQueue(1));
    Sim::Advance(999);
    EXPECT_EQ(1u, Sim::OutputQueue(1));
    EXPECT_EQ(959u, Sim::InputQueue(1));
    Sim::Advance(1);
    EXPECT_EQ(0u, Sim::OutputQueue(1));
    EXPECT_EQ(960u, Sim::InputQueue(1));
    EXPECT_EQ(1000u, Sim::Now());
}

TEST_F(SimTest, EightBytesAt300BaudNeedAbout267Ms)
{
    HANDLE h = AddAndOpen(1, Sim::WIRE_LOOPBACK_PLUG);
    SetLine(h, 300);
    Write(h, std::string("TESTING", 8));
    Sim::Advance(200);
    EXPECT_EQ(6u, Sim::InputQueue(1));
    Sim::Advance(66);
    EXPECT_EQ(7u, Sim::InputQueue(1));
    Sim::Advance(1);
    EXPECT_EQ(std::string("TESTING", 8), Read(h, 8));
}

TEST_F(SimTest, ParityAndTwoStopBitsSlowTheLine)
{
    HANDLE h = AddAndOpen(1);
    SetLine(h, 1200, EVENPARITY, TWOSTOPBITS); // 12 bits a character: 10 ms
    Write(h, "0123456789");
    Sim::Advance(99);
    EXPECT_EQ("012345678", Sim::PeerTake(1));
    Sim::Advance(1);
    EXPECT_EQ("9", Sim::PeerTake(1));
}

TEST_F(SimTest, SetCommStateRejectsWhatADriverRejects)
{
    HANDLE h = AddAndOpen(1);
    DCB good;
    ASSERT_TRUE(Device.GetCommState(h, &good));
    EXPECT_EQ(9600u, good.BaudRate);
    EXPECT_EQ(8, good.ByteSize);
    EXPECT_EQ(sizeof(DCB), good.DCBlength);
    DCB bad[4] = {good, good, good, good};
    bad[0].BaudRate = 0;
    bad[1].ByteSize = 9;
    bad[2].Parity = 5;
    bad[3].StopBits = 3;
    for (DCB& d : bad) {
        EXPECT_FALSE(Device.SetCommState(h, &d));
        EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
    }
    EXPECT_EQ(9600u, Sim::CommState(1).BaudRate);
}

// --- wiring and signals ---

TEST_F(SimTest, LoopbackPlugEchoesDataAndLoopsTheModemLines)
{
    Sim::AddPort(1, Sim::WIRE_LOOPBACK_PLUG);
    Sim::AddPort(2, Sim::WIRE_LOOPBACK_PLUG_RI);
    HANDLE h1 = Open(1);
    HANDLE h2 = Open(2);
    EXPECT_EQ(0xB0u, ModemStatus(h1));
    EXPECT_EQ(0xF0u, ModemStatus(h2));
    Device.EscapeCommFunction(h1, CLRDTR);
    Device.EscapeCommFunction(h2, CLRDTR);
    EXPECT_EQ((DWORD)MS_CTS_ON, ModemStatus(h1));
    EXPECT_EQ((DWORD)(MS_CTS_ON | MS_RING_ON), ModemStatus(h2));
    Device.EscapeCommFunction(h1, CLRRTS);
    Device.EscapeCommFunction(h1, SETDTR);
    EXPECT_EQ((DWORD)(MS_DSR_ON | MS_RLSD_ON), ModemStatus(h1));
    EXPECT_EQ(0x01u, Sim::OutputLines(1));
    Write(h1, "echo");
    Sim::Advance(10);
    EXPECT_EQ("echo", Read(h1, 4));
}

TEST_F(SimTest, NullModemPairCrossesDataAndSignals)
{
    Sim::ConnectNullModem(7, 8);
    HANDLE a = Open(7);
    EXPECT_EQ(0u, ModemStatus(a)); // the far port is not open
    HANDLE b = Open(8);
    EXPECT_EQ(0xB0u, ModemStatus(a));
    Device.EscapeCommFunction(b, CLRRTS);
    EXPECT_EQ((DWORD)(MS_DSR_ON | MS_RLSD_ON), ModemStatus(a));
    EXPECT_EQ(0xB0u, ModemStatus(b));
    Write(a, "ping");
    Sim::Advance(5);
    EXPECT_EQ(0u, Sim::InputQueue(7));
    EXPECT_EQ("ping", Read(b, 4));
}

TEST_F(SimTest, UnconnectedPortTalksToThePeerFunctions)
{
    HANDLE h = AddAndOpen(4);
    Sim::SetPeerSignals(4, MS_CTS_ON | MS_RING_ON);
    EXPECT_EQ((DWORD)(MS_CTS_ON | MS_RING_ON), ModemStatus(h));
    Sim::PeerSend(4, "abc", 3);
    EXPECT_EQ("abc", Read(h, 3));
    Write(h, "xyz");
    Sim::Advance(4);
    EXPECT_EQ("xyz", Sim::PeerTake(4));
}

TEST_F(SimTest, InternalLoopbackKeepsEverythingInsideThePort)
{
    HANDLE h = AddAndOpen(4);
    DWORD returned = 5;
    EXPECT_TRUE(Device.DeviceIoControl(h, 0x1B2014, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_TRUE(Sim::LoopbackOn(4));
    EXPECT_EQ(0xB0u, ModemStatus(h));
    Write(h, "in");
    Sim::PeerSend(4, "out", 3);
    Sim::Advance(3);
    EXPECT_EQ("", Sim::PeerTake(4));
    EXPECT_EQ("in", Read(h, Sim::InputQueue(4)));
    EXPECT_TRUE(Device.EscapeCommFunction(h, 15649));
    EXPECT_FALSE(Sim::LoopbackOn(4));
}

TEST_F(SimTest, LoopbackRequestsReturnTheDriversAnswer)
{
    HANDLE h = AddAndOpen(4);
    Sim::SetLoopbackAnswer(4, 0);
    EXPECT_FALSE(Device.DeviceIoControl(h, 0x1B2018, nullptr, 0, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
    Sim::SetLoopbackAnswer(4, 2);
    EXPECT_EQ(2, Device.EscapeCommFunction(h, 15648));
    EXPECT_FALSE(Device.DeviceIoControl(h, 0x1B2000, nullptr, 0, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
}

TEST_F(SimTest, BreakArrivesOnceAtTheWiredReceiver)
{
    Sim::AddPort(1, Sim::WIRE_LOOPBACK_PLUG);
    Sim::ConnectNullModem(2, 3);
    HANDLE h1 = Open(1);
    HANDLE h2 = Open(2);
    HANDLE h3 = Open(3);
    EXPECT_TRUE(Device.EscapeCommFunction(h1, SETBREAK));
    EXPECT_TRUE(Sim::BreakOn(1));
    EXPECT_EQ((DWORD)CE_BREAK, TakeErrors(h1));
    EXPECT_EQ(0u, TakeErrors(h1));
    Device.EscapeCommFunction(h2, SETBREAK);
    EXPECT_EQ(0u, TakeErrors(h2));
    EXPECT_EQ((DWORD)CE_BREAK, TakeErrors(h3));
    Device.EscapeCommFunction(h2, CLRBREAK);
    EXPECT_FALSE(Sim::BreakOn(2));
    EXPECT_EQ((std::vector<DWORD>{SETBREAK, CLRBREAK}), Sim::Escapes(2));
}

// --- queues, errors and holds ---

TEST_F(SimTest, InputBeyondTheQueueIsLostAndReportedOnce)
{
    HANDLE h = AddAndOpen(2);
    std::string burst(5000, 'z');
    Sim::PeerSend(2, burst.data(), (DWORD)burst.size());
    COMSTAT stat;
    EXPECT_EQ((DWORD)CE_RXOVER, TakeErrors(h, &stat));
    EXPECT_EQ(4096u, stat.cbInQue);
    EXPECT_EQ(904u, Sim::LostBytes(2));
    EXPECT_EQ(0u, TakeErrors(h));
    Sim::InjectLineErrors(2, CE_FRAME | CE_RXPARITY);
    EXPECT_EQ((DWORD)(CE_FRAME | CE_RXPARITY), TakeErrors(h));
}

TEST_F(SimTest, CtsFlowControlHoldsOutputUntilCtsComes)
{
    HANDLE h = AddAndOpen(4);
    DCB d = Sim::CommState(4);
    d.fOutxCtsFlow = TRUE;
    ASSERT_TRUE(Device.SetCommState(h, &d));
    OVERLAPPED o = Block();
    DWORD n;
    EXPECT_FALSE(Device.WriteFile(h, "held", 4, &n, &o));
    EXPECT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, Device.WaitForSingleObject(o.hEvent, 6000));
    EXPECT_EQ(6000u, Sim::Now());
    COMSTAT stat;
    TakeErrors(h, &stat);
    EXPECT_TRUE(stat.fCtsHold);
    EXPECT_EQ(4u, stat.cbOutQue);
    Sim::SetPeerSignals(4, MS_CTS_ON);
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, Device.WaitForSingleObject(o.hEvent, 6000));
    EXPECT_TRUE(Device.GetOverlappedResult(h, &o, &n, FALSE));
    EXPECT_EQ(4u, n);
    TakeErrors(h, &stat);
    EXPECT_FALSE(stat.fCtsHold);
    Sim::Advance(5);
    EXPECT_EQ("held", Sim::PeerTake(4));
}

TEST_F(SimTest, XoffHoldsOutputByEscapeAndByReceivedCharacter)
{
    HANDLE h = AddAndOpen(4);
    Device.EscapeCommFunction(h, SETXOFF);
    EXPECT_EQ(0x08u, Sim::HoldFlagsOf(4));
    Device.EscapeCommFunction(h, SETXON);
    EXPECT_EQ(0u, Sim::HoldFlagsOf(4));

    DCB d = Sim::CommState(4);
    d.fOutX = TRUE;
    ASSERT_TRUE(Device.SetCommState(h, &d));
    Sim::PeerSend(4,
                  "a\x13"
                  "b",
                  3);
    COMSTAT stat;
    TakeErrors(h, &stat);
    EXPECT_TRUE(stat.fXoffHold);
    EXPECT_EQ(2u, stat.cbInQue); // the XOFF itself is not stored
    OVERLAPPED o = Block();
    DWORD n;
    EXPECT_FALSE(Device.WriteFile(h, "x", 1, &n, &o));
    Sim::Advance(100);
    EXPECT_EQ("", Sim::PeerTake(4));
    Sim::PeerSend(4, "\x11", 1);
    Sim::Advance(2);
    EXPECT_EQ("x", Sim::PeerTake(4));
    EXPECT_TRUE(Device.GetOverlappedResult(h, &o, &n, FALSE));
}

TEST_F(SimTest, ReceiverFlowControlSendsXoffBeforeOverflowAndXonAfterReading)
{
    HANDLE h = AddAndOpen(4);
    DCB d = Sim::CommState(4);
    d.fInX = TRUE;
    ASSERT_TRUE(Device.SetCommState(h, &d));
    std::string burst(4096 - 512, 'i');
    Sim::PeerSend(4, burst.data(), (DWORD)burst.size());
    EXPECT_EQ("\x13", Sim::PeerTake(4));
    EXPECT_EQ(0x10u, Sim::HoldFlagsOf(4));
    Read(h, 1000);
    EXPECT_EQ("", Sim::PeerTake(4));
    Read(h, 600);
    EXPECT_EQ("\x11", Sim::PeerTake(4));
    EXPECT_EQ(0u, Sim::HoldFlagsOf(4));
}

// --- overlapped completion ---

TEST_F(SimTest, WriteBeyondTheOutputQueueCompletesAsTheLineDrains)
{
    HANDLE h = AddAndOpen(1, Sim::WIRE_DATA_ONLY);
    std::string big(5000, 'q');
    OVERLAPPED o = Block();
    DWORD n = 77;
    EXPECT_FALSE(Device.WriteFile(h, big.data(), (DWORD)big.size(), &n, &o));
    EXPECT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
    EXPECT_FALSE(Device.GetOverlappedResult(h, &o, &n, FALSE));
    EXPECT_EQ((DWORD)ERROR_IO_INCOMPLETE, GetLastError());
    EXPECT_EQ(5000u, Sim::OutputQueue(1));
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, Device.WaitForSingleObject(o.hEvent, 6000));
    EXPECT_EQ(942u, Sim::Now()); // 904 characters of 1.0417 ms had to leave first
    EXPECT_TRUE(Device.GetOverlappedResult(h, &o, &n, FALSE));
    EXPECT_EQ(5000u, n);
    EXPECT_EQ(5000u, (DWORD)o.InternalHigh);
}

TEST_F(SimTest, ReadWaitsForItsBytesAndFillsTheBufferOnCompletion)
{
    HANDLE h = AddAndOpen(2);
    Sim::PeerSend(2, "abcd", 4);
    OVERLAPPED o = Block();
    char buffer[11] = "----------";
    DWORD n;
    EXPECT_FALSE(Device.ReadFile(h, buffer, 10, &n, &o));
    EXPECT_EQ((DWORD)ERROR_IO_PENDING, GetLastError());
    EXPECT_STREQ("----------", buffer);
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, Device.WaitForSingleObject(o.hEvent, 50));
    Sim::PeerSend(2, "efghijk", 7);
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, Device.WaitForSingleObject(o.hEvent, 0));
    EXPECT_TRUE(Device.GetOverlappedResult(h, &o, &n, FALSE));
    EXPECT_EQ(10u, n);
    EXPECT_STREQ("abcdefghij", buffer);
    EXPECT_EQ(1u, Sim::InputQueue(2));
}

TEST_F(SimTest, PurgeAbortsOutstandingRequestsAndNeverTouchesThemAgain)
{
    HANDLE h = AddAndOpen(2);
    Sim::NextReadPending(2, 3, INFINITE);
    OVERLAPPED o = Block();
    char buffer[4] = "";
    DWORD n;
    EXPECT_FALSE(Device.ReadFile(h, buffer, 3, &n, &o));
    EXPECT_EQ(1, Sim::OutstandingRequests(2));
    EXPECT_TRUE(Device.PurgeComm(h, PURGE_RXABORT));
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, Device.WaitForSingleObject(o.hEvent, 0));
    EXPECT_FALSE(Device.GetOverlappedResult(h, &o, &n, FALSE));
    EXPECT_EQ((DWORD)ERROR_OPERATION_ABORTED, GetLastError());
    EXPECT_EQ(0, Sim::OutstandingRequests(2));
    memset(&o, 0x5A, sizeof o);
    Sim::PeerSend(2, "abc", 3);
    Sim::Advance(100000);
    EXPECT_EQ(0x5A5A5A5Au, (DWORD)o.Internal);
    EXPECT_EQ((std::vector<DWORD>{PURGE_RXABORT}), Sim::Purges(2));
}

TEST_F(SimTest, CloseAbortsTheHandlesRequests)
{
    HANDLE h = AddAndOpen(2);
    Sim::NextWritePending(2, INFINITE);
    OVERLAPPED o = Block();
    DWORD n;
    EXPECT_FALSE(Device.WriteFile(h, "w", 1, &n, &o));
    EXPECT_EQ(1u, Sim::OutputQueue(2));
    EXPECT_TRUE(Device.CloseHandle(h));
    EXPECT_EQ(0, Sim::OutstandingRequests(2));
    EXPECT_NE(0u, (DWORD)o.Internal);
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, Device.WaitForSingleObject(o.hEvent, 0));
    Device.CloseHandle(o.hEvent);
    EXPECT_EQ(0, Sim::OpenHandles());
}

TEST_F(SimTest, InjectedPendingRequestsCompleteOnTheClock)
{
    HANDLE h = AddAndOpen(2);
    Sim::PeerSend(2, "ab", 2);
    Sim::NextReadPending(2, 5, 300);
    OVERLAPPED o = Block();
    char buffer[6] = "";
    DWORD n;
    EXPECT_FALSE(Device.ReadFile(h, buffer, 5, &n, &o));
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, Device.WaitForSingleObject(o.hEvent, 60000));
    EXPECT_EQ(300u, Sim::Now());
    EXPECT_TRUE(Device.GetOverlappedResult(h, &o, &n, FALSE));
    EXPECT_EQ(5u, n);
    EXPECT_STREQ("abxxx", buffer);

    Sim::NextWritePending(2, 7000);
    OVERLAPPED w = Block();
    EXPECT_FALSE(Device.WriteFile(h, "k", 1, &n, &w));
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, Device.WaitForSingleObject(w.hEvent, 6000));
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, Device.WaitForSingleObject(w.hEvent, 6000));
    EXPECT_EQ(7300u, Sim::Now());
}

TEST_F(SimTest, AnInjectedPendingWriteSendsAtOnceAndOnlyCompletesLate)
{
    HANDLE h = AddAndOpen(2);
    Sim::NextWritePending(2, 100);
    OVERLAPPED first = Block();
    DWORD n;
    EXPECT_FALSE(Device.WriteFile(h, "A", 1, &n, &first));
    Write(h, "B");
    Sim::Advance(3);
    EXPECT_EQ("AB", Sim::PeerTake(2));
    EXPECT_EQ(1, Sim::OutstandingRequests(2));
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, Device.WaitForSingleObject(first.hEvent, 1000));
    EXPECT_EQ(100u, Sim::Now());
}

TEST_F(SimTest, ShortReadDeliversFewerBytesAtOnce)
{
    HANDLE h = AddAndOpen(2);
    Sim::PeerSend(2, "12345", 5);
    Sim::NextReadShort(2, 3);
    EXPECT_EQ("123", Read(h, 5));
    EXPECT_EQ("45", Read(h, 2));
}

// --- fault injection and counting ---

TEST_F(SimTest, FailCallHitsOnlyItsPortAndOnlyAsOftenAsAsked)
{
    Sim::AddPorts(3, 2);
    HANDLE h3 = Open(3);
    HANDLE h4 = Open(4);
    Sim::FailCall(Sim::CALL_GET_MODEM_STATUS, 31, 2, 4);
    DWORD status;
    EXPECT_TRUE(Device.GetCommModemStatus(h3, &status));
    EXPECT_FALSE(Device.GetCommModemStatus(h4, &status));
    EXPECT_EQ(31u, GetLastError());
    EXPECT_FALSE(Device.GetCommModemStatus(h4, &status));
    EXPECT_TRUE(Device.GetCommModemStatus(h4, &status));
    EXPECT_EQ(3, Sim::CallCount(Sim::CALL_GET_MODEM_STATUS, 4));
    EXPECT_EQ(4, Sim::CallCount(Sim::CALL_GET_MODEM_STATUS));
}

TEST_F(SimTest, FailedCreateCallsReturnTheirFailureValues)
{
    Sim::AddPort(3);
    Sim::FailCall(Sim::CALL_CREATE_FILE, ERROR_ACCESS_DENIED);
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open(3));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    Sim::FailCall(Sim::CALL_CREATE_EVENT, 8, -1);
    EXPECT_EQ(nullptr, Device.CreateEventA(nullptr, TRUE, FALSE, nullptr));
    EXPECT_EQ(nullptr, Device.CreateEventA(nullptr, TRUE, FALSE, nullptr));
    Sim::ClearFaults();
    HANDLE e = Device.CreateEventA(nullptr, TRUE, TRUE, nullptr);
    Sim::FailCall(Sim::CALL_WAIT, 6);
    EXPECT_EQ(WAIT_FAILED, Device.WaitForSingleObject(e, 0));
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, Device.WaitForSingleObject(e, 0));
    EXPECT_EQ(1, Sim::OpenHandles());
}

TEST_F(SimTest, SleepMovesTheManualClock)
{
    Device.Sleep(200);
    EXPECT_EQ(200u, Sim::Now());
    EXPECT_EQ(1, Sim::CallCount(Sim::CALL_SLEEP));
}

} // namespace
