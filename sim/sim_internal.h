// The simulator's own state, shared by its source files.
#pragma once
#include "port/device.h"
#include "sim/sim.h"

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>
#include <windows.h>

namespace Sim
{

// Status values the simulator writes into a caller's OVERLAPPED, as the
// system does (Internal holds the status, InternalHigh the byte count).
const ULONG_PTR STATUS_VALUE_PENDING = 0x103;
const ULONG_PTR STATUS_VALUE_CANCELLED = 0xC0000120;

const DWORD DEFAULT_QUEUE_SIZE = 4096;
const ULONGLONG NEVER = ~0ULL;

// Fixed-size byte queue; the line engine moves bytes in chunks through it.
struct ByteRing {
    std::vector<unsigned char> data;
    size_t head = 0;
    size_t count = 0;

    void Resize(size_t capacity);
    size_t Free() const
    {
        return data.size() - count;
    }
    size_t Push(const unsigned char* bytes, size_t length);
    size_t Pop(unsigned char* bytes, size_t length); // bytes may be null: discard
    void Clear()
    {
        head = 0;
        count = 0;
    }
};

struct Request {
    bool read = false;
    HANDLE device = nullptr;
    OVERLAPPED* overlapped = nullptr;
    HANDLE event = nullptr;
    unsigned char* buffer = nullptr; // the caller's, written only on completion
    DWORD length = 0;
    DWORD done = 0;                  // read: bytes staged; write: bytes moved to the queue
    std::vector<unsigned char> data; // read: staged bytes; write: copy of the caller's bytes
    bool timed = false;              // injected: completes by the clock
    ULONGLONG due = NEVER;           // timed requests only
    DWORD delivered = 0;             // timed reads: bytes to complete with
};

struct Port {
    int number = 0;
    Wiring wiring = WIRE_NONE;
    int nullModemPeer = 0;
    bool unplugged = false;
    BOOL loopbackAnswer = TRUE;
    int openCount = 0;
    DCB dcb{};
    ByteRing input;
    ByteRing output;
    bool rts = false;
    bool dtr = false;
    bool breakOn = false;
    bool loopback = false;
    bool xoffByEscape = false;
    bool xoffByChar = false;
    bool xoffSent = false;
    DWORD errors = 0;
    DWORD lost = 0;
    DWORD peerSignals = 0;
    DWORD stuckOn = 0; // modem-status bits a broken plug reads on, or off
    DWORD stuckOff = 0;
    ULONGLONG lineCredit = 0; // in 1/(2*baud) ms units
    std::string peerTaken;
    std::deque<Request*> reads;
    std::deque<Request*> writes;
    // Injected requests that complete by the clock. A timed write's bytes go
    // to the output queue at once, in issue order; only its completion waits.
    std::vector<Request*> timed;
    std::vector<DWORD> escapes;
    std::vector<DWORD> purges;
    bool shortReadArmed = false;
    DWORD shortReadBytes = 0;
    bool pendingReadArmed = false;
    DWORD pendingReadBytes = 0;
    DWORD pendingReadAfter = 0;
    bool pendingWriteArmed = false;
    bool holdsRequests = false;
    DWORD pendingWriteAfter = 0;
    LineFault fault = FAULT_NONE;
    DWORD faultEvery = 0;
    ULONGLONG faultCount = 0; // bytes put on the line since the fault was set
    ULONGLONG heldFrom = NEVER;
    ULONGLONG vanishAt = NEVER;
};

struct HandleEntry {
    bool device = false;
    int port = 0; // devices: their port; events: the port of the last request using it
    bool signaled = false;
    bool manualReset = true;
};

struct Fault {
    Call call;
    DWORD error;
    int times;
    int number;
    int skip;
};

struct State {
    std::map<int, std::unique_ptr<Port>> ports;
    std::map<ULONG_PTR, HandleEntry> handles;
    ULONG_PTR nextHandle = 0x5170;
    ULONGLONG now = 0;
    bool realTime = false;
    LONGLONG realOffset = 0;
    std::vector<Fault> faults;
    int totalCalls[CALL_COUNT] = {};
    std::map<int, std::vector<int>> portCalls;
    std::vector<LoggedCall> log;
    bool logging = false;
};

extern State S;
extern const DeviceTable SimulatedDevice;

Port* FindPort(int number);
HandleEntry* FindHandle(HANDLE handle);
HANDLE NewHandle(const HandleEntry& entry);

// Time and the line engine.
ULONGLONG RealMs();
void SyncRealTime();
void RunTo(ULONGLONG target);
bool StepTowards(ULONGLONG target); // false when nothing can happen before target
bool CanProgress();                 // a line is sending or a timed request will complete
DWORD ModemStatusOf(const Port& p);
DWORD HoldWordOf(const Port& p);
bool OutputHeld(const Port& p);
DWORD PendingWriteBytes(const Port& p);
void DeliverFromOutside(Port& p, const unsigned char* bytes, size_t length);
void SendBreak(Port& p);
// The device goes away: its requests end and every later call fails.
void Vanish(Port& p);
// Applies the port's line fault to bytes it puts on the line: `out` gets what
// arrives; the result is whether one of them arrives with a framing error.
bool ApplyLineFault(Port& p, const unsigned char* bytes, size_t length, std::string* out);
void ServiceQueues(Port& p);
void ApplyLineControl(Port& p);
DCB DefaultDcb();

// Requests.
void CompleteRequest(Request* r, ULONG_PTR status, DWORD count);
void AbortRequests(Port& p, HANDLE device, bool reads, bool writes);
void SignalEvent(HANDLE event);

} // namespace Sim
