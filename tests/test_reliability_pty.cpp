// A vanished device on a real COM port under Wine: COM43 is a pseudo-terminal
// whose far end echoes until it has received 20,000 bytes and then closes
// (tools/pty-peer.py --port com43=hangup-after:20000). The real frame polls
// the port under Send Test Data until the line is gone, then goes on polling
// with every box re-entering the poll, as its message loop would.
#include "app/commands.h"
#include "app/state.h"
#include "port/device.h"
#include "port/poll.h"
#include "port/port_record.h"
#include "tests/reliability_support.h"
#include "view/screen.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

static const int PollsBeforeHangUpBound = 20000;
static const ULONGLONG HangUpWallClockCapMs = 90000;
static const int PollsAfterHangUp = 300;

// While a box is up its message loop would run the poll again, directly
// and through the frame's timer.
static void PollsInsideABox()
{
    for (int i = 0; i < 3; i++) {
        PollAllPorts();
        SendMessageA(FrameWindow, WM_TIMER, 0, 0);
    }
}

static std::string RepeatedTexts(const BoxRecorder& boxes)
{
    std::string repeated;
    for (const auto& entry : CountTexts(boxes))
        if (entry.second > 1)
            repeated += "\"" + entry.first + "\" x" + std::to_string(entry.second) + "; ";
    return repeated;
}

// The ring's lines holding `marker`, at most `limit` of them.
static Texts LinesWith(const PortRecord* port, const char* marker, size_t limit)
{
    Texts found;
    for (int i = 1; i <= SCREEN_LINES && found.size() < limit; i++) {
        const char* line = port->lines[(port->currentLine + i) % SCREEN_LINES].text;
        if (strstr(line, marker))
            found.push_back(line);
    }
    return found;
}

class ReliabilityPty : public testing::Test
{
  protected:
    BoxRecorder boxes;

    void SetUp() override
    {
        ResetProgramState();
        Device = SystemDevice;
        StartFrameOnce();
        ASSERT_TRUE(IsWindow(FrameWindow));
        ASSERT_TRUE(IsWindow(MdiClient));
    }

    void TearDown() override
    {
        boxes.onBox = nullptr;
        CloseAllPortWindows();
        PumpMessages(200);
        ResetProgramState();
    }

    // The program's own signs of a line that is gone: a transfer call in a
    // failure run, the line status no longer readable, or a write that never
    // finishes (a master still held elsewhere leaves writes pending instead).
    bool LineLooksGone(const PortRecord* port) const
    {
        if (port->failingSites != 0 || !LinesWith(port, "ClearCommError", 1).empty())
            return true;
        for (const ShownBox& box : boxes.boxes)
            if (box.text.find("ComOut Pending Failed") == 0)
                return true;
        return false;
    }

    static void Poll()
    {
        PollAllPorts();
        PumpMessages(20);
    }
};

// What Wine answers on the program's own handle once the far end is gone.
static void PrintRawCalls(HANDLE device)
{
    DWORD errors = 0;
    COMSTAT status = {};
    BOOL ok = ClearCommError(device, &errors, &status);
    printf("[ wine ] ClearCommError: %s error %lu, in %lu out %lu\n", ok ? "ok" : "failed",
           ok ? 0 : GetLastError(), status.cbInQue, status.cbOutQue);
    DWORD modem = 0;
    ok = GetCommModemStatus(device, &modem);
    printf("[ wine ] GetCommModemStatus: %s error %lu\n", ok ? "ok" : "failed",
           ok ? 0 : GetLastError());
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    ok = GetCommState(device, &dcb);
    printf("[ wine ] GetCommState: %s error %lu\n", ok ? "ok" : "failed", ok ? 0 : GetLastError());
    ok = EscapeCommFunction(device, SETXOFF);
    printf("[ wine ] EscapeCommFunction SETXOFF: %s error %lu\n", ok ? "ok" : "failed",
           ok ? 0 : GetLastError());
    EscapeCommFunction(device, SETXON);

    // Overlapped, as the program issues them; a request still pending after
    // two seconds is cancelled and settled before its block goes away.
    const char* names[] = {"WriteFile", "ReadFile"};
    for (int i = 0; i < 2; i++) {
        OVERLAPPED block = {};
        block.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        char bytes[16] = "after hang-up";
        DWORD count = 0;
        ok = i == 0 ? WriteFile(device, bytes, 13, &count, &block)
                    : ReadFile(device, bytes, 1, &count, &block);
        DWORD code = ok ? 0 : GetLastError();
        if (!ok && code == ERROR_IO_PENDING) {
            DWORD wait = WaitForSingleObject(block.hEvent, 2000);
            if (wait != WAIT_OBJECT_0)
                CancelIoEx(device, &block);
            ok = GetOverlappedResult(device, &block, &count, TRUE);
            printf("[ wine ] %s: pending, wait %lu, then %s error %lu, %lu bytes\n", names[i], wait,
                   ok ? "ok" : "failed", ok ? 0 : GetLastError(), count);
        } else {
            printf("[ wine ] %s: %s error %lu, %lu bytes\n", names[i], ok ? "ok" : "failed", code,
                   count);
        }
        CloseHandle(block.hEvent);
    }
}

TEST_F(ReliabilityPty, HungUpLineShowsEachBoxOnceAndTheWindowStaysUsableAndCloses)
{
    PortRecord* port = OpenPortWindow(43);
    ASSERT_TRUE(port) << "run under tools/pty-peer.py --port com43=hangup-after:20000";
    ASSERT_TRUE(IsWindow(port->window));
    NestingProbe probe;
    probe.Attach(boxes, PollsInsideABox);
    SendMessageA(FrameWindow, WM_COMMAND, CMD_SEND_TEST_DATA, 0);
    ASSERT_EQ(1, TestDataOn);

    // The peer hangs up once our test data has reached 20,000 bytes; poll
    // until the program sees the line gone, with a bound on polls and time.
    ULONGLONG start = GetTickCount64();
    int polls = 0;
    while (!LineLooksGone(port) && polls < PollsBeforeHangUpBound &&
           GetTickCount64() - start < HangUpWallClockCapMs) {
        Poll();
        polls++;
        if (!LineLooksGone(port))
            Sleep(1);
    }
    ASSERT_TRUE(LineLooksGone(port))
        << polls << " polls; boxes " << testing::PrintToString(boxes.Texts());
    EXPECT_TRUE(IsWindow(port->window));
    Texts beforeHangUp = boxes.Texts();
    printf("[ figures ] hang-up seen after %d polls, %llu ms; boxes so far %s\n", polls,
           GetTickCount64() - start, testing::PrintToString(beforeHangUp).c_str());
    // The echo came back before the hang-up.
    EXPECT_FALSE(LinesWith(port, "abcdefghij", 1).empty());

    ULONGLONG after = GetTickCount64();
    for (int i = 0; i < PollsAfterHangUp && GetTickCount64() - after < HangUpWallClockCapMs; i++)
        Poll();
    printf("[ figures ] after %d more polls: %u boxes %s; failing sites %x; deepest nesting %d\n",
           PollsAfterHangUp, (unsigned)boxes.boxes.size(),
           testing::PrintToString(boxes.Texts()).c_str(), port->failingSites, probe.deepest);
    for (const std::string& line : LinesWith(port, "<ERR", 1))
        printf("[ figures ] screen: %s\n", line.c_str());
    printf("[ figures ] lines marked \"Error reading data\": %u\n",
           (unsigned)LinesWith(port, "Error reading data", SCREEN_LINES).size());
    EXPECT_EQ("", RepeatedTexts(boxes));
    // The test data keeps being written to the dead line: its failure shows,
    // once, and stays in its run.
    int writeErrorBoxes = 0;
    for (const ShownBox& box : boxes.boxes)
        writeErrorBoxes += box.text.find("Com Write Error:") == 0;
    EXPECT_EQ(1, writeErrorBoxes) << testing::PrintToString(boxes.Texts());
    EXPECT_NE(0u, port->failingSites);
    EXPECT_FALSE(LinesWith(port, "ClearCommError, COM43", 1).empty());
    EXPECT_EQ(1, probe.deepest) << testing::PrintToString(probe.nested);
    EXPECT_TRUE(probe.nested.empty());
    EXPECT_LE(boxes.boxes.size(), beforeHangUp.size() + 4) << testing::PrintToString(boxes.Texts());
    PrintRawCalls(port->device);

    // Still a window a user can work in: a key, the port commands, a repaint,
    // and more ticks, with no new stream of boxes.
    size_t boxesBefore = boxes.boxes.size();
    SendMessageA(port->window, WM_CHAR, 'x', 0);
    SendMessageA(port->window, WM_COMMAND, CMD_CLEAR_SCREEN, 0);
    SendMessageA(port->window, WM_COMMAND, CMD_SET_XOFF, 0);
    EXPECT_FALSE(LinesWith(port, "<SETXOFF set>", 1).empty());
    SendMessageA(port->window, WM_COMMAND, CMD_SET_XON, 0);
    SendMessageA(port->window, WM_CHAR, 'y', 0);
    InvalidateRect(port->window, nullptr, TRUE);
    UpdateWindow(port->window);
    for (int i = 0; i < 50; i++)
        Poll();
    Texts all = boxes.Texts();
    printf("[ figures ] boxes after the key, commands and 50 polls: %s\n",
           testing::PrintToString(Texts(all.begin() + boxesBefore, all.end())).c_str());
    EXPECT_EQ("", RepeatedTexts(boxes));
    EXPECT_LE(boxes.boxes.size(), boxesBefore + 2) << testing::PrintToString(boxes.Texts());
    EXPECT_EQ(1, probe.deepest);

    // And it closes cleanly: the record is gone from the list and the
    // window with it.
    HWND window = port->window;
    SendMessageA(MdiClient, WM_MDIDESTROY, (WPARAM)window, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(nullptr, PortListHead);
    EXPECT_EQ(0, PortWindowCount());
    for (int i = 0; i < 20; i++)
        Poll();
    SendMessageA(FrameWindow, WM_COMMAND, CMD_SEND_TEST_DATA, 0);
    EXPECT_EQ(0, TestDataOn);
}
