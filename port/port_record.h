// One record per open port, and the list of open ports, newest first.
#pragma once
#include "port/line_errors.h"
#include "port/port_run.h"
#include "port/test_pattern.h"

#include <windows.h>

#define SCREEN_LINES 35
#define SCREEN_COLUMNS 80
#define RECEIVE_BUFFER_SIZE 5000

// Modem inputs (the same bits as the system's modem-status word).
#define SIGNAL_CTS 0x10
#define SIGNAL_DSR 0x20
#define SIGNAL_RI 0x40
#define SIGNAL_CD 0x80
// Outputs as last set by the program.
#define SIGNAL_DTR 0x01
#define SIGNAL_RTS 0x02
#define SIGNAL_LOOP 0x04

// The calls the poll repeats at every tick. A device that keeps failing one
// of them shows its box once per run of the same error on a port; the run
// ends when the call succeeds or fails with another code.
#define FAILING_WRITE 0x1
#define FAILING_WRITE_RESULT 0x2
#define FAILING_READ 0x4
#define FAILING_READ_RESULT 0x8
#define FAILING_MODEM_STATUS 0x10
#define FAILING_SITE_COUNT 5

struct ScreenLine {
    char text[82];
    unsigned char dirty;
};

struct PaintedLineStatus {
    DWORD holdFlags;
    DWORD inQueue;
    DWORD outQueue;
};

// What a burn-in reads back: counted from the last reset, never shown.
struct PortCounters {
    uint64_t bytesSent;
    uint64_t bytesReceived;
    uint32_t lineErrors[LINE_ERROR_KINDS];
    PatternCheck pattern;
};

struct IoRequest;
struct Capture;

class PortRecord
{
  public:
    PortRecord();
    ~PortRecord(); // ClosePortRecord
    PortRecord(const PortRecord&) = delete;
    PortRecord& operator=(const PortRecord&) = delete;

    HWND window;
    PortRecord* next;
    char name[20];
    HANDLE device;
    int testInProgress;
    int loopbackCapable;
    int signalLampCount;
    unsigned short inputSignals;
    unsigned short outputSignals;
    unsigned short paintedInputSignals;
    unsigned short paintedOutputSignals;
    char receiveBuffer[RECEIVE_BUFFER_SIZE + 1];
    ScreenLine lines[SCREEN_LINES];
    int windowDirty;
    int paintedLine;
    // When the text rows were last painted, on the engine's clock, and
    // whether they ever were.
    ULONGLONG rowsPaintedAt;
    int rowsPaintedOnce;
    int currentLine;
    int currentColumn;
    int clientWidth;
    int clientHeight;
    DWORD createdTicks;
    int mouseX;
    int mouseY;
    OVERLAPPED eventBlock;
    OVERLAPPED writeBlock;
    int writePending;
    OVERLAPPED readBlock;
    DCB dcb;
    COMSTAT lineStatus;
    PaintedLineStatus paintedStatus;

    // Requests the device may still complete: the write being tracked and
    // any request whose wait ran out. The transfer layer owns these.
    IoRequest* pendingWrite;
    IoRequest* abandoned;
    // Requests kept for reuse by the next read and write (transfer layer).
    IoRequest* keptRead;
    IoRequest* keptWrite;
    // Calls of the poll whose failure run has had its box (FAILING_* bits),
    // with the error code that started each run.
    unsigned failingSites;
    int failingCodes[FAILING_SITE_COUNT];
    PortCounters counters;
    // Where what the port receives is kept, while it is (port/capture.h).
    Capture* capture;
    PortRun run;
    // The last box the port raised from the poll, and when.
    char lastBox[128];
    ULONGLONG lastBoxClock;
};

extern PortRecord* PortListHead;

void ClosePortRecord(PortRecord* port);
void UnlinkPort(PortRecord* port);
PortRecord* FindOpenPort(const char* name);
void ResetPortCounters(PortRecord* port);

// The first 32-bit word of COMSTAT, the hold flags as one value.
DWORD HoldFlags(const COMSTAT& status);

// A watch lets code that holds a record across a modal box (which runs a
// message loop that may destroy the port window) learn that the record was
// deleted meanwhile. Watches nest; the destructor marks every watch on it.
struct RecordWatch {
    PortRecord* port;
    int closed;
    RecordWatch* nextWatch;
};
void WatchRecord(RecordWatch* watch, PortRecord* port);
void UnwatchRecord(RecordWatch* watch);
