// Lamp rows and text rows of a port window, painted incrementally.
#pragma once
#include "view/layout.h"

#include <windows.h>

class PortRecord;

extern int SignalLampX[LAMP_COUNT];
extern int SignalLampWidth[LAMP_COUNT];
extern int HoldLampX[LAMP_COUNT];
extern int HoldLampWidth[LAMP_COUNT];

void LayoutLampRows();
void PaintSignalLamp(HDC surface, int lit, int index);
void PaintHoldLamp(HDC surface, int index, int clear);
void RedrawPort(PortRecord* port, int forced);

// While data streams, a window's text rows are painted at most once per this
// many ms of the engine's clock, as terminals draw the screen at a display
// rate rather than at every read: lines that arrive between two paints cost
// one paint. Lamps are painted at every poll.
#define PAINT_PERIOD_MS 50
// PAINT_PERIOD_MS; the benchmark sets it to compare periods.
extern DWORD PaintPeriodMs;
// The poll's painting of a dirty window at time `now`: the lamps that
// changed, and the text rows when a period has passed since they were last
// painted (at once in a window never painted). False when the rows wait.
int PaintPolledPort(PortRecord* port, ULONGLONG now);
// Paints what changed without waiting: for commands whose effect the user
// waits to see.
void PaintPortNow(PortRecord* port);
void ClearScreen(PortRecord* port);
// Frees what painting kept about the window; its owner calls it when the
// window goes.
void ForgetSeenRows(HWND window);
