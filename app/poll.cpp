#include "app/poll.h"

#include "common/state.h"
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
        CheckPattern(&port->counters.pattern, port->receiveBuffer, (int)count);
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
    if (watch->closed || port->testInProgress)
        return;
    if (TestDataOn && counts.outQueue == 0 && !WriteOutstanding(port)) {
        if (TestPatternLength == 0)
            BuildTestPattern();
        PollWritePort(port, TestPattern, (DWORD)TestPatternLength);
        if (watch->closed)
            return;
    }
    DrainInput(port, counts.inQueue, watch);
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

void PollAllPorts()
{
    if (PollRunning)
        return;
    PollRunning = 1;
    PollCount++;
    LastPollTime = Device.GetTickCount64();
    PortRecord* port = PortListHead;
    while (port) {
        RecordWatch watch;
        WatchRecord(&watch, port);
        ServicePort(port);
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
