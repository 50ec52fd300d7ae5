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

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

typedef std::vector<std::string> Texts;

class ReliabilityTest : public RunningFrameTest
{
  protected:
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

// Counts boxes and how deeply they nest. While each box is up, `whileUp` runs
// what its message loop would deliver (timer ticks, polls), then messages are
// pumped.
struct NestingProbe {
    int depth = 0;
    int deepest = 0;
    Texts nested;
    void Attach(BoxRecorder& boxes, std::function<void()> whileUp)
    {
        boxes.onBox = [this, whileUp](const ShownBox& box) {
            depth++;
            deepest = std::max(deepest, depth);
            if (depth > 1)
                nested.push_back(box.text);
            whileUp();
            PumpMessages(50);
            depth--;
        };
    }
};

inline std::map<std::string, int> CountTexts(const BoxRecorder& boxes)
{
    std::map<std::string, int> counts;
    for (const ShownBox& b : boxes.boxes)
        counts[b.text]++;
    return counts;
}

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
