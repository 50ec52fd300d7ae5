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
void ClearScreen(PortRecord* port);
