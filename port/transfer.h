// Opening a device and moving bytes to and from it with overlapped requests.
#pragma once
#include <windows.h>

class PortRecord;

#define WRITE_WAIT_MS 6000
#define READ_WAIT_MS 60000

int OpenPort(PortRecord* port, const char* name);
int WritePort(PortRecord* port, const void* data, DWORD length);
int ReadPort(PortRecord* port, void* buffer, DWORD wanted, DWORD* count);
void ReportCommError(const char* prefix, int code, const char* secondText, int secondCode);

// Whether the last write of the port is still with the device. A device
// whose status reads an empty output queue while its write never completes
// must not be handed a new write at every poll.
int WriteOutstanding(PortRecord* port);

// Called by ClosePortRecord after the device is closed: settles and frees
// every request the device may still have held.
void ReleaseOutstandingIo(PortRecord* port);
