// Shared by the reliability test programs: the frame started for real on the
// simulated adapter, ticks of the poll timer, and the screen ring's rules.
#pragma once
#include "app/commands.h"
#include "app/frame.h"
#include "app/state.h"
#include "port/port_record.h"
#include "sim/sim.h"
#include "tests/shell_helpers.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

typedef std::vector<std::string> Texts;

class ReliabilityTest : public testing::Test
{
  protected:
    SimulatedAdapter sim;
    BoxRecorder boxes;
    HACCEL accelerators = nullptr;

    void SetUp() override
    {
        ResetProgramState();
        accelerators = StartFrameOnce();
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

    static LRESULT Command(WORD id)
    {
        return SendMessageA(FrameWindow, WM_COMMAND, id, 0);
    }

    // Timer ticks of the frame, each after `ms` of simulated time.
    static void Ticks(int count, DWORD ms)
    {
        for (int i = 0; i < count; i++) {
            Sim::Advance(ms);
            SendMessageA(FrameWindow, WM_TIMER, 0, 0);
        }
    }
};

// The ring's text, oldest line first, without breaks: a marker that wrapped
// at column 80 reads whole.
inline std::string FlatScreen(const PortRecord* port)
{
    std::string text;
    for (int i = 1; i <= SCREEN_LINES; i++)
        text += port->lines[(port->currentLine + i) % SCREEN_LINES].text;
    return text;
}

inline bool FlatScreenHas(const PortRecord* port, const char* text)
{
    return FlatScreen(port).find(text) != std::string::npos;
}

// Empty when the ring keeps its rules, else what is wrong.
inline std::string RingFault(const PortRecord* port)
{
    char text[120];
    if (port->currentLine < 0 || port->currentLine >= SCREEN_LINES || port->currentColumn < 0 ||
        port->currentColumn >= SCREEN_COLUMNS) {
        snprintf(text, sizeof text, "position %d,%d", port->currentLine, port->currentColumn);
        return text;
    }
    for (int i = 0; i < SCREEN_LINES; i++) {
        const char* line = port->lines[i].text;
        size_t length = strnlen(line, sizeof port->lines[i].text);
        if (length > SCREEN_COLUMNS) {
            snprintf(text, sizeof text, "line %d holds %u characters", i, (unsigned)length);
            return text;
        }
        for (size_t c = 0; c < length; c++) {
            unsigned char b = (unsigned char)line[c];
            if (b < 0x20 || b > 0x80) {
                snprintf(text, sizeof text, "line %d column %u holds byte %02x", i, (unsigned)c, b);
                return text;
            }
        }
    }
    return "";
}
