// The line-settings controls both dialogs share, and how they map onto a DCB.
#pragma once
#include <windows.h>

class PortRecord;

#define IDC_BAUD 1003
#define IDC_DATA_BITS 1004
#define IDC_FROM_PORT 1005
#define IDC_QUANTITY 1006
#define IDC_PARITY 1008
#define IDC_STOP_BITS 1009
#define IDC_RTS 1010
#define IDC_DTR 1011
#define IDC_RX_XONXOFF 1012
#define IDC_CTS_FLOW 1013
#define IDC_DSR_FLOW 1014
#define IDC_TX_XONXOFF 1015

extern const DWORD BaudRateList[16];

// Writes the dialog's controls into the record's DCB and OutputSignals.
// byteSizeBox: show "ByteSize = %d" right after the data bits are set.
void ApplyLineSettings(HWND dialog, PortRecord* port, int byteSizeBox = 0);
