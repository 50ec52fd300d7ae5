// Filling and reading the controls both dialogs share.
#pragma once
#include <windows.h>

// Longest control text the dialogs read; longer texts are cut.
#define DIALOG_TEXT_MAX 57

// The decimal number at the start of a control's text, after skipping `skip`
// characters (the "COM" of a port name), as "%ld" reads it but saturating at
// the limits of a long instead of overflowing. Returns 0 when there is none.
int ReadLeadingNumber(HWND dialog, int control, int skip, long* value);

// Clears a combo box, adds the items in order and selects one (an index the
// list lacks leaves it without a selection).
void FillList(HWND dialog, int control, const char* const* items, int count, int selection);
void FillBaudList(HWND dialog, int selection);
// Data bits, parity, stop bits, RTS and DTR, in that order.
void FillLineLists(HWND dialog, int dataBits, int parity, int stopBits, int rts, int dtr);
