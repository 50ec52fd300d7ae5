#include "port/port_record.h"

#include "port/capture.h"
#include "port/device.h"
#include "port/transfer.h"

#include <string.h>

PortRecord* PortListHead = nullptr;
static RecordWatch* Watches = nullptr;

PortRecord::PortRecord()
    : window(nullptr), next(nullptr), device(nullptr), testInProgress(0), loopbackCapable(0),
      signalLampCount(6), inputSignals(0), outputSignals(SIGNAL_DTR | SIGNAL_RTS),
      paintedInputSignals(255), paintedOutputSignals(255), windowDirty(0), paintedLine(0),
      rowsPaintedAt(0), rowsPaintedOnce(0), currentLine(0), currentColumn(0), clientWidth(0),
      clientHeight(0), createdTicks(0), mouseX(0), mouseY(0), writePending(0),
      pendingWrite(nullptr), abandoned(nullptr), keptRead(nullptr), keptWrite(nullptr),
      failingSites(0), capture(nullptr), run(), lastBoxClock(0)
{
    name[0] = 0;
    receiveBuffer[0] = 0;
    lastBox[0] = 0;
    memset(lines, 0, sizeof lines);
    memset(failingCodes, 0, sizeof failingCodes);
    memset(&eventBlock, 0, sizeof eventBlock);
    memset(&writeBlock, 0, sizeof writeBlock);
    memset(&readBlock, 0, sizeof readBlock);
    // A zeroed DCB with its length set: a failed GetCommState never leaves
    // stale bytes to be applied to a device.
    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    memset(&lineStatus, 0, sizeof lineStatus);
    memset(&paintedStatus, 0, sizeof paintedStatus);
    ResetPortCounters(this);
}

void ResetPortCounters(PortRecord* port)
{
    memset(&port->counters, 0, sizeof port->counters);
    ResetPatternCheck(&port->counters.pattern);
}

PortRecord::~PortRecord()
{
    ClosePortRecord(this);
}

void UnlinkPort(PortRecord* port)
{
    if (PortListHead == port) {
        PortListHead = port->next;
        return;
    }
    for (PortRecord* p = PortListHead; p; p = p->next) {
        if (p->next == port) {
            p->next = port->next;
            return;
        }
    }
}

void ClosePortRecord(PortRecord* port)
{
    EndCapture(port);
    UnlinkPort(port);
    for (RecordWatch* w = Watches; w; w = w->nextWatch)
        if (w->port == port)
            w->closed = 1;
    if (!port->device)
        return;
    Device.PurgeComm(port->device, PURGE_TXABORT);
    Device.PurgeComm(port->device, PURGE_RXABORT);
    Device.CloseHandle(port->device);
    ReleaseOutstandingIo(port);
    if (port->readBlock.hEvent)
        Device.CloseHandle(port->readBlock.hEvent);
    if (port->writeBlock.hEvent)
        Device.CloseHandle(port->writeBlock.hEvent);
    if (port->eventBlock.hEvent)
        Device.CloseHandle(port->eventBlock.hEvent);
    port->device = nullptr;
}

PortRecord* FindOpenPort(const char* name)
{
    for (PortRecord* p = PortListHead; p; p = p->next)
        if (lstrcmpiA(p->name, name) == 0)
            return p;
    return nullptr;
}

DWORD HoldFlags(const COMSTAT& status)
{
    DWORD word;
    memcpy(&word, &status, sizeof word);
    return word;
}

void WatchRecord(RecordWatch* watch, PortRecord* port)
{
    watch->port = port;
    watch->closed = 0;
    watch->nextWatch = Watches;
    Watches = watch;
}

void UnwatchRecord(RecordWatch* watch)
{
    for (RecordWatch** w = &Watches; *w; w = &(*w)->nextWatch) {
        if (*w == watch) {
            *w = watch->nextWatch;
            return;
        }
    }
}
