// The line-settings controls both dialogs share, and how they map onto a DCB.
#pragma once
#include "common/resource.h"

#include <windows.h>

class PortRecord;

// The rates offered, in list order, ending in 0.
inline const DWORD BaudRateList[16] = {300,   600,   1200,  2400,   3600,   4800,   7200,   9600,
                                       19200, 38400, 57600, 115200, 230400, 460800, 921600, 0};

// Writes the dialog's controls into the record's DCB and OutputSignals.
// byteSizeBox: show "ByteSize = %d" right after the data bits are set.
// Returns 1 when there is no record, or it was deleted inside that box.
int ApplyLineSettings(HWND dialog, PortRecord* port, int byteSizeBox = 0);
