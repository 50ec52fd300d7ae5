#include "port/port_run.h"

#include "port/port_record.h"
#include "port/test_pattern.h"

#include <string.h>

int SendsTestData(const PortRecord* port, int testDataOn)
{
    return port->run.inRun ? port->run.sending : testDataOn;
}

void JoinRun(PortRecord* port)
{
    port->run = PortRun();
    port->run.inRun = 1;
}

void StartRunSending(PortRecord* port, ULONGLONG now, ULONGLONG active)
{
    ResetPortCounters(port);
    PortRun& run = port->run;
    run = PortRun();
    run.inRun = 1;
    run.sending = 1;
    run.startClock = now;
    run.startActive = active;
    run.lastProgressActive = active;
    run.characterMs = CharacterMs(port->dcb);
    run.modelBusyUntil = (double)now;
    run.dcbAtStart = port->dcb;
}

static int SettingsChanged(const DCB& a, const DCB& b)
{
    return a.BaudRate != b.BaudRate || a.ByteSize != b.ByteSize || a.Parity != b.Parity ||
           a.StopBits != b.StopBits || a.fOutX != b.fOutX || a.fInX != b.fInX ||
           a.fOutxCtsFlow != b.fOutxCtsFlow || a.fOutxDsrFlow != b.fOutxDsrFlow ||
           a.fRtsControl != b.fRtsControl || a.fDtrControl != b.fDtrControl;
}

// Differences on the active clock, which a box raised meanwhile can set back.
static uint32_t Since(ULONGLONG active, ULONGLONG then)
{
    return active > then ? (uint32_t)(active - then) : 0;
}

static uint32_t RunTime(const PortRun& run, ULONGLONG active)
{
    return Since(active, run.startActive);
}

void TrackRunPoll(PortRecord* port, ULONGLONG now, ULONGLONG active, DWORD statusFlags)
{
    // CTS, DSR, CD, XOFF received and XOFF sent hold the line; EOF and TXIM do not.
    DWORD holdFlags = statusFlags & RUN_HOLD_BITS;
    PortRun& run = port->run;
    if (!run.sending)
        return;
    if (SettingsChanged(port->dcb, run.dcbAtStart))
        run.interference |= RUN_SETTINGS_CHANGED;
    if (TestPatternLength == 0)
        BuildTestPattern();
    if ((double)now >= run.modelBusyUntil) {
        run.modelWritten += (uint64_t)TestPatternLength;
        run.modelBusyUntil = (double)now + TestPatternLength * run.characterMs;
    }
    if (holdFlags && !run.holding) {
        run.holding = 1;
        run.holdSince = active;
    }
    run.holding = holdFlags != 0;
    run.holdFlagsSeen |= holdFlags;
    if (run.holding && Since(active, run.holdSince) >= run.longestHoldMs) {
        run.longestHoldMs = Since(active, run.holdSince);
        run.holdFromMs = RunTime(run, run.holdSince);
    }
    // The stretch ends at the poll that finds something new; until then it
    // grows with every poll.
    uint32_t stall = Since(active, run.lastProgressActive);
    if (stall > run.longestStallMs) {
        run.longestStallMs = stall;
        run.stallFromMs = RunTime(run, run.lastProgressActive);
    }
    uint64_t verified = port->counters.pattern.verified;
    if (verified != run.lastVerified) {
        run.lastVerified = verified;
        run.lastProgressActive = active;
    }
}

uint64_t RunCapacity(const PortRecord* port, ULONGLONG now)
{
    const PortRun& run = port->run;
    if (!run.sending)
        return run.capacity;
    double queued = run.modelBusyUntil - (double)now;
    uint64_t left = queued > 0 && run.characterMs > 0 ? (uint64_t)(queued / run.characterMs) : 0;
    return run.modelWritten > left ? run.modelWritten - left : 0;
}

uint64_t RunLineSent(const PortRecord* port)
{
    if (!port->run.sending)
        return port->run.lineSent;
    uint64_t accepted = port->counters.bytesSent, queued = port->lineStatus.cbOutQue;
    return accepted > queued ? accepted - queued : 0;
}

void StopRunSending(PortRecord* port, ULONGLONG now)
{
    PortRun& run = port->run;
    if (!run.sending)
        return;
    run.capacity = RunCapacity(port, now);
    run.lineSent = RunLineSent(port);
    run.sending = 0;
}

void LeaveRun(PortRecord* port)
{
    port->run.inRun = 0;
    port->run.sending = 0;
}

void NoteRunInterference(PortRecord* port, uint32_t what)
{
    if (port->run.sending)
        port->run.interference |= what;
}
