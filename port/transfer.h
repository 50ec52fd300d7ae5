// Opening a device and moving bytes to and from it with overlapped requests.
#pragma once
#include <windows.h>

class PortRecord;

#define WRITE_WAIT_MS 6000
#define READ_WAIT_MS 60000

int OpenPort(PortRecord* port, const char* name);
int WritePort(PortRecord* port, const void* data, DWORD length);
int ReadPort(PortRecord* port, void* buffer, DWORD wanted, DWORD* count);
// The poll's own transfers: a failure that lasts shows its box once per run
// of the same error code, not at every poll.
int PollWritePort(PortRecord* port, const void* data, DWORD length);
int PollReadPort(PortRecord* port, void* buffer, DWORD wanted, DWORD* count);

// Failure runs of the poll's calls (FAILING_* of the record): whether this
// failure starts a run (and so shows its box), and the end of runs.
int StartsFailureRun(PortRecord* port, unsigned site, int code);
void EndFailureRun(PortRecord* port, unsigned sites);

void ReportCommError(const char* prefix, int code, const char* secondText, int secondCode);

// Whether the last write of the port is still with the device. A device
// whose status reads an empty output queue while its write never completes
// must not be handed a new write at every poll.
int WriteOutstanding(PortRecord* port);

// Called by ClosePortRecord after the device is closed: settles and frees
// every request the device may still have held.
void ReleaseOutstandingIo(PortRecord* port);
