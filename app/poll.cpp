#include "app/poll.h"

#include "app/run.h"
#include "common/message_box.h"
#include "common/state.h"
#include "port/capture.h"
#include "port/device.h"
#include "port/port_record.h"
#include "port/screen_text.h"
#include "port/status.h"
#include "port/test_pattern.h"
#include "port/transfer.h"
#include "view/paint.h"

#include <string.h>

// Set while a poll runs. A box shown during the poll runs a message loop
// that keeps delivering timer ticks; those must not start a second walk.
static int PollRunning = 0;

uint64_t PollCount = 0;
ULONGLONG LastPollTime = 0;
ULONGLONG PollHeldMs = 0;
uint32_t LongestPollGapMs = 0;

// The port being serviced, and when: a box it raised holds the poll from
// then on, before that time is added to PollHeldMs.
static int InService = 0;
static ULONGLONG ServiceStarted = 0;
static unsigned ServiceBoxes = 0;

ULONGLONG ActiveClock(ULONGLONG now)
{
    ULONGLONG held = PollHeldMs;
    if (InService && BoxesShown != ServiceBoxes && now > ServiceStarted)
        held += now - ServiceStarted;
    return now > held ? now - held : 0;
}

// Marks the pattern errors found by the last check with the poll's time.
static void StampPatternErrors(PatternCheck* check, uint64_t before)
{
    ULONGLONG now = Device.GetTickCount64();
    for (uint64_t i = before; i < check->errors && i < PATTERN_FIRST_ERRORS; i++)
        check->first[i].clockMs = now;
}

// Each step that can show a box may see the port closed under it; the
// watch says so and the record must not be touched again.
static void DrainInput(PortRecord* port, DWORD queued, RecordWatch* watch)
{
    DWORD remaining = queued;
    while (remaining > 0) {
        DWORD wanted = remaining < RECEIVE_BUFFER_SIZE ? remaining : RECEIVE_BUFFER_SIZE;
        remaining -= wanted;
        DWORD count = 0;
        int failed = PollReadPort(port, port->receiveBuffer, wanted, &count);
        if (watch->closed)
            return;
        if (failed) {
            AppendText(port, "Error reading data", 0);
            continue;
        }
        if (count > wanted)
            count = wanted;
        port->receiveBuffer[count] = 0;
        port->counters.bytesReceived += count;
        uint64_t errors = port->counters.pattern.errors;
        CheckPattern(&port->counters.pattern, port->receiveBuffer, (int)count);
        if (port->counters.pattern.errors != errors)
            StampPatternErrors(&port->counters.pattern, errors);
        if (port->capture)
            CaptureReceived(port, port->receiveBuffer, count);
        AppendText(port, port->receiveBuffer, (int)count);
    }
}

static void ServiceWatchedPort(PortRecord* port, RecordWatch* watch)
{
    // Counts are 0 when the line status could not be read: nothing is drained.
    QueueCounts counts = {0, 0};
    PollLineStatus(port, &counts);
    if (watch->closed)
        return;
    PollModemStatus(port);
    if (watch->closed)
        return;
    if (port->testInProgress) {
        NoteRunInterference(port, RUN_LOOPBACK_TEST);
        return;
    }
    if (SendsTestData(port, TestDataOn) && counts.outQueue == 0 && !WriteOutstanding(port)) {
        if (TestPatternLength == 0)
            BuildTestPattern();
        PollWritePort(port, TestPattern, (DWORD)TestPatternLength);
        if (watch->closed)
            return;
    }
    DrainInput(port, counts.inQueue, watch);
    if (watch->closed)
        return;
    ULONGLONG now = Device.GetTickCount64();
    TrackRunPoll(port, now, ActiveClock(now), HoldFlags(port->lineStatus));
}

void ServicePort(PortRecord* port)
{
    if (!port)
        return;
    RecordWatch watch;
    WatchRecord(&watch, port);
    ServiceWatchedPort(port, &watch);
    UnwatchRecord(&watch);
}

// A box raised while a port is serviced holds every port's poll until it
// is answered; the port keeps the box, and the time it held counts apart.
static void ServiceAndNoteBoxes(PortRecord* port, RecordWatch* watch)
{
    unsigned boxes = BoxesShown;
    ULONGLONG started = Device.GetTickCount64();
    InService = 1;
    ServiceStarted = started;
    ServiceBoxes = boxes;
    ServicePort(port);
    InService = 0;
    if (BoxesShown == boxes)
        return;
    PollHeldMs += Device.GetTickCount64() - started;
    if (watch->closed)
        return;
    strcpy(port->lastBox, LastBoxText);
    port->lastBoxClock = started;
    if (port->run.sending)
        port->run.boxes += BoxesShown - boxes;
}

void PollAllPorts()
{
    // Even while a box holds the poll, what was captured reaches its file.
    TendCaptures(Device.GetTickCount64());
    if (PollRunning)
        return;
    PollRunning = 1;
    ULONGLONG now = Device.GetTickCount64();
    if (PollCount && now - LastPollTime > LongestPollGapMs)
        LongestPollGapMs = (uint32_t)(now - LastPollTime);
    PollCount++;
    LastPollTime = now;
    CheckRunOwner(now);
    PortRecord* port = PortListHead;
    while (port) {
        RecordWatch watch;
        WatchRecord(&watch, port);
        ServiceAndNoteBoxes(port, &watch);
        UnwatchRecord(&watch);
        // The port was closed from inside a box: its next link went with it,
        // so the rest of the list waits for the next tick.
        if (watch.closed)
            break;
        if (port->paintedInputSignals != port->inputSignals ||
            port->paintedOutputSignals != port->outputSignals)
            port->windowDirty = 1;
        if (port->windowDirty && PaintPolledPort(port, LastPollTime))
            port->windowDirty = 0;
        port = port->next;
    }
    PollRunning = 0;
}
