// The line-settings controls both dialogs share, and how they map onto a DCB.
#pragma once
#include <windows.h>

#include "app/resource.h"

class PortRecord;

extern const DWORD BaudRateList[16];

// Writes the dialog's controls into the record's DCB and OutputSignals.
// byteSizeBox: show "ByteSize = %d" right after the data bits are set.
// Returns 1 when there is no record, or it was deleted inside that box.
int ApplyLineSettings(HWND dialog, PortRecord* port, int byteSizeBox = 0);
