// A burn-in run on a port. While in a run the port sends the test pattern on
// its own orders, whatever Send Test Data says, and keeps what a verdict
// needs: what its line could carry in the polls that ran, the longest stretch
// in which nothing new was verified, its holds, and what changed it from
// outside. Times are on the engine's clock; "active" time leaves out the
// time the poll was held.
#pragma once
#include <stdint.h>
#include <windows.h>

class PortRecord;

// What changed a port of a run from outside.
#define RUN_COUNTERS_RESET 0x1
#define RUN_SETTINGS_CHANGED 0x2
#define RUN_LOOPBACK_TEST 0x4

#define RUN_HOLD_BITS 0x1F

struct PortRun {
    int inRun;   // part of a run: sends only while `sending`
    int sending; // the run's test data is on
    ULONGLONG startClock;
    ULONGLONG startActive;
    double characterMs;
    // One pattern per empty queue, modelled at the line rate: the bytes it
    // writes at the polls that run, and when its queue would be empty.
    uint64_t modelWritten;
    double modelBusyUntil;
    // Frozen when the sending stops.
    uint64_t capacity; // bytes the line could have carried by then
    uint64_t lineSent; // accepted by the driver minus what its queue held
    uint64_t lastVerified;
    ULONGLONG lastProgressActive;
    uint32_t longestStallMs;
    uint32_t stallFromMs;   // run time of the last progress before it
    uint32_t holdFlagsSeen; // every hold seen while sending
    uint32_t longestHoldMs; // the longest stretch of polls that saw the output held
    uint32_t holdFromMs;    // run time it began
    ULONGLONG holdSince;    // active time the current hold began
    int holding;
    uint32_t interference;
    uint32_t boxes; // boxes the port raised since the sending began
    DCB dcbAtStart;
};

// Bit times of one character: start, data, parity and stop bits. Inline,
// because tarnwickctl judges runs by it without linking the program.
inline double CharacterMs(const DCB& dcb)
{
    if (dcb.BaudRate == 0)
        return 0;
    double stop = dcb.StopBits == ONESTOPBIT ? 1 : dcb.StopBits == ONE5STOPBITS ? 1.5 : 2;
    double bits = 1 + dcb.ByteSize + (dcb.Parity != NOPARITY ? 1 : 0) + stop;
    return bits * 1000.0 / dcb.BaudRate;
}
int SendsTestData(const PortRecord* port, int testDataOn);

void JoinRun(PortRecord* port);
void StartRunSending(PortRecord* port, ULONGLONG now, ULONGLONG active);
// Called at every poll that serviced the port, after its input was drained.
void TrackRunPoll(PortRecord* port, ULONGLONG now, ULONGLONG active, DWORD holdFlags);
void StopRunSending(PortRecord* port, ULONGLONG now);
void LeaveRun(PortRecord* port);
void NoteRunInterference(PortRecord* port, uint32_t what);
// While sending, what the model and the driver say now; frozen after.
uint64_t RunCapacity(const PortRecord* port, ULONGLONG now);
uint64_t RunLineSent(const PortRecord* port);
