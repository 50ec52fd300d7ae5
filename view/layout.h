// Where a port window draws its lamps and text rows, and in what colours.
// Shared with tarnwickctl, which reads lamps and rows back from the screen.
#pragma once
#include <string.h>
#include <windows.h>

#define LAMP_COUNT 7
#define LAMP_TOP 1
#define LAMP_BOTTOM 17
// Clicks above this line are lamp clicks.
#define LAMP_STRIP_HEIGHT 16
#define LAMP_CHAR_WIDTH 10
#define LAMP_GAP 2
#define SIGNAL_ROW_LEFT 5
// A wider gap after the inputs (RI) and after the outputs (LOOP).
#define SIGNAL_GROUP_GAP 5
#define LAST_INPUT_LAMP 3
#define LAST_OUTPUT_LAMP 6
#define HOLD_ROW_LEFT 60
#define HOLD_ROW_OFFSET 240

// SignalRow lamps that are outputs, clickable.
#define LAMP_RTS 4
#define LAMP_DTR 5
#define LAMP_LOOP 6

#define TEXT_ROW_HEIGHT 14
#define TEXT_LEFT 10
#define TEXT_RIGHT 1600
// Text row n (1 is the top row) starts this far below n row heights.
#define TEXT_ROW_DROP 4

#define LIT_SIGNAL_COLOUR RGB(128, 255, 128)
#define HOLD_COLOUR RGB(128, 128, 255)
// The light grey stock brush of a dark lamp.
#define DARK_LAMP_COLOUR RGB(192, 192, 192)

inline const char* const SignalRowLabels[LAMP_COUNT + 1] = {"CTS", "DSR", "CD",   "RI",
                                                            "RTS", "DTR", "LOOP", ""};
inline const char* const HoldRowLabels[LAMP_COUNT + 1] = {"CTS",   "DSR", "CD",   "XOFFH",
                                                          "XOFFS", "EOF", "TXIM", ""};

// The left edge and width of every lamp of a row; the hold row's are relative
// to HOLD_ROW_OFFSET.
inline void LayoutLampRow(const char* const* labels, int signalRow, int* left, int* width)
{
    int x = signalRow ? SIGNAL_ROW_LEFT : HOLD_ROW_LEFT;
    for (int i = 0; labels[i][0]; i++) {
        left[i] = x;
        width[i] = LAMP_CHAR_WIDTH * (int)strlen(labels[i]);
        x += width[i] + LAMP_GAP;
        if (signalRow && (i == LAST_INPUT_LAMP || i == LAST_OUTPUT_LAMP))
            x += SIGNAL_GROUP_GAP;
    }
}
