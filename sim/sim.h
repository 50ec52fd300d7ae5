// A simulated multi-port serial adapter behind the device seam (port/device.h).
//
// Ports are numbered as COM ports. Each has an input queue (4,096 bytes, like a
// typical driver; bytes beyond it are lost and counted as an overrun) and an
// output queue that drains at the line rate its DCB gives (start, data, parity
// and stop bits per character). Time is a simulated clock in milliseconds that
// tests move with Advance; in real-time mode (the demo) it follows the system
// tick count. Waits and Sleep through the seam move the clock instead of
// blocking, so a test never sleeps.
//
// Failures are reported as the system would: the call returns FALSE (or
// INVALID_HANDLE_VALUE, WAIT_FAILED...) after SetLastError(code).
#pragma once
#include <string>
#include <vector>
#include <windows.h>

namespace Sim
{

enum Wiring {
    WIRE_NONE,             // nothing connected; the peer functions below act as the far end
    WIRE_LOOPBACK_PLUG,    // TX to RX, RTS to CTS, DTR to DSR and CD
    WIRE_LOOPBACK_PLUG_RI, // the same, with RTS also to RI
    WIRE_DATA_ONLY,        // TX to RX, no signal loops
};

enum Call {
    CALL_CREATE_FILE,
    CALL_READ_FILE,
    CALL_WRITE_FILE,
    CALL_GET_OVERLAPPED_RESULT,
    CALL_WAIT,
    CALL_CREATE_EVENT,
    CALL_CLOSE_HANDLE,
    CALL_CLEAR_COMM_ERROR,
    CALL_GET_MODEM_STATUS,
    CALL_ESCAPE,
    CALL_DEVICE_IO_CONTROL,
    CALL_PURGE,
    CALL_GET_COMM_STATE,
    CALL_SET_COMM_STATE,
    CALL_SLEEP,
    CALL_COUNT
};

// Routes the seam to the simulator with a fresh, empty adapter (no ports,
// manual clock at 0). Uninstall restores the operating system's functions.
void Install();
void Uninstall();
void Reset();

// --- the adapter ---
void AddPort(int number, Wiring wiring = WIRE_NONE);
void AddPorts(int first, int count, Wiring wiring = WIRE_NONE);
// Wires two ports to each other as a null-modem pair (TX to RX, RTS to CTS,
// DTR to DSR and CD, both ways).
void ConnectNullModem(int a, int b);
// The device vanishes: from now on every call on its open handles fails with
// ERROR_BAD_COMMAND (22), except CloseHandle; a new open fails with code 2.
void Unplug(int number);
// What the driver answers to the loopback requests (either platform's form):
// TRUE by default; any other value is returned as it is (0 with error 87).
void SetLoopbackAnswer(int number, BOOL answer);
// Sizes of the driver's queues (4,096 bytes each by default); what they hold
// is kept as far as it fits.
void SetQueueSizes(int number, DWORD inputBytes, DWORD outputBytes);

// Faults of the line a port transmits on, for burn-in runs: every `every`-th
// byte the port puts on the line is changed (FAULT_CORRUPT), lost
// (FAULT_DROP) or arrives with a framing error (FAULT_FRAME). FAULT_PULLED
// takes the plug off: the port opens but nothing comes back.
enum LineFault { FAULT_NONE, FAULT_CORRUPT, FAULT_DROP, FAULT_FRAME, FAULT_PULLED };
void SetLineFault(int number, LineFault fault, DWORD every = 0);
// Faults that begin at a moment of the simulated clock, in milliseconds from
// its start (in the demo, from the program's start): from then on the port's
// output is held as if XOFF had been received (FAULT_HELD), or the device
// vanishes as Unplug makes it (FAULT_VANISH).
enum TimedFault { FAULT_HELD, FAULT_VANISH };
void SetTimedFault(int number, TimedFault fault, ULONGLONG atMs);
// Applies a list such as "COM3=corrupt:20000,COM7=drop:5000,COM9=pulled,
// COM11=frame:30000,COM4=held:4,COM6=vanish:6.5" (seconds for the timed
// faults) to existing ports. On bad text nothing is applied and `error` says
// what is wrong.
bool ApplyFaultList(const char* text, std::string* error);

// --- time ---
void SetRealTime(bool on);
void Advance(DWORD ms);
ULONGLONG Now();

// --- the far end of a WIRE_NONE port ---
void PeerSend(int number, const void* data, DWORD length); // arrives in the input queue
std::string PeerTake(int number);                          // bytes the port put on the line
void SetPeerSignals(int number,
                    DWORD modemStatusBits);      // MS_CTS_ON, MS_DSR_ON, MS_RING_ON, MS_RLSD_ON
void InjectLineErrors(int number, DWORD ceBits); // reported by the next ClearCommError
// A plug with a broken or shorted wire: these modem-status bits read on (or
// off) whatever the wiring drives them to.
void SetStuckSignals(int number, DWORD on, DWORD off);

// --- read-back of the device's state ---
bool IsOpen(int number);
DWORD OutputLines(int number); // 0x01 DTR, 0x02 RTS, as the line is driven now
bool BreakOn(int number);
bool LoopbackOn(int number);
DWORD InputQueue(int number);
DWORD OutputQueue(int number); // bytes accepted but not yet on the line, pending writes included
DWORD HoldFlagsOf(int number);
DWORD LostBytes(int number); // input overruns
DCB CommState(int number);
void SetCommStateOf(int number, const DCB& dcb); // as if another program had set it
int OpenHandles(); // devices and events the simulator has handed out and not closed
int OutstandingRequests(int number);      // reads and writes issued, not yet completed or aborted
int CallCount(Call call, int number = 0); // number 0: every port and handle
std::vector<DWORD> Escapes(int number);   // EscapeCommFunction codes in order
std::vector<DWORD> Purges(int number);    // PurgeComm flags in order

// Every device call in order since StartCallLog: the call, its port (0: none)
// and its size or code (bytes asked for, escape function, control code,
// purge flags). Off until started, so long runs do not grow it.
struct LoggedCall {
    Call call;
    int number;
    DWORD value;
};
void StartCallLog();
const std::vector<LoggedCall>& CallLog();

// --- fault injection; number 0 means any port ---
// After `skip` matching calls go through, the next `times` calls (-1: every
// call until ClearFaults) fail with `error`.
// For CALL_WAIT the wait returns WAIT_FAILED; CALL_CREATE_FILE returns
// INVALID_HANDLE_VALUE; CALL_CREATE_EVENT returns NULL.
void FailCall(Call call, DWORD error, int times = 1, int number = 0, int skip = 0);
void ClearFaults();
// The next ReadFile on the port completes at once with `delivered` bytes of
// what is queued (fewer than asked for).
void NextReadShort(int number, DWORD delivered);
// The next ReadFile goes pending (ERROR_IO_PENDING) and completes with
// `delivered` bytes (taken from the queue, or 'x' filler) `afterMs` later on
// the simulated clock; INFINITE never completes until the device is purged
// or closed. The simulator writes into the caller's buffer and OVERLAPPED
// block when the request completes, as a driver would.
void NextReadPending(int number, DWORD delivered, DWORD afterMs);
// The next WriteFile goes pending and completes `afterMs` later (INFINITE:
// only by purge or close), whatever the queue holds.
void NextWritePending(int number, DWORD afterMs);
// A driver that keeps its requests through purge and close: they complete
// only when their time comes.
void HoldRequests(int number);

} // namespace Sim
