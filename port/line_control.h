// What the windows and dialogs do to an open port's line: its settings, its
// output lines and escapes, and the pieces the loopback-plug test is made of.
#pragma once
#include <windows.h>

class PortRecord;

// Reads the device's settings into the record's DCB; on failure the DCB is
// left as it was and the "Error from GetCommState:" box is shown. 0 on success.
int ReadLineSettings(PortRecord* port);
// Writes the record's DCB to the device, with the "Error from SetCommState:" box.
void WriteLineSettings(PortRecord* port);

// Quiet versions for saving and restoring settings around a test.
int GetDeviceSettings(PortRecord* port, DCB* dcb);
void SetDeviceSettings(PortRecord* port, DCB* dcb);

// An escape function (SETRTS, CLRDTR, SETXOFF, ...) with no box and no marker.
void DriveLine(PortRecord* port, DWORD function);
// An escape function followed by its marker in the port's screen.
void EscapeWithMarker(PortRecord* port, DWORD function, const char* marker);
// Turns RTS or DTR (SIGNAL_RTS, SIGNAL_DTR) the other way and records it.
void ToggleOutput(PortRecord* port, unsigned short signal);

// The modem-status word, or 0 when it cannot be read.
DWORD ReadModemInputs(PortRecord* port);
// Abandons the device's pending output and input.
void AbortDeviceTransfers(PortRecord* port);
// Waits for the line to settle; the simulated adapter's clock advances here.
void SettleLine(DWORD milliseconds);
