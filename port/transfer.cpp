#include "port/transfer.h"

#include "common/message_box.h"
#include "common/state.h"
#include "port/device.h"
#include "port/loopback.h"
#include "port/port_record.h"

#include <stdio.h>
#include <string.h>

// How long closing waits for an aborted request to settle before giving its
// memory up for lost.
#define SETTLE_WAIT_MS 1000

// A device that keeps failing would raise the same box at every poll, so the
// poll's transfers show a box once per run of failures (FAILING_* of the
// record); a typed key, a command or the loopback test gets a box per call.
// Time-outs are not runs: each request that waits in vain is reported.

// Room of the request each port keeps for its reads: a whole receive chunk.
#define CACHED_READ_BYTES RECEIVE_BUFFER_SIZE

// One overlapped request with everything the device may touch while it is
// outstanding: its block, its event and its own bytes. A request the device
// still holds is never freed and never reused.
//
// Each port keeps one read and one write request for reuse, so a busy port
// allocates nothing per transfer. A kept request borrows the event of the
// port's own block (`home`); a kept request that is abandoned takes that
// event with it and the port gets a fresh one.
struct IoRequest {
    OVERLAPPED block;
    IoRequest* next;
    DWORD length;
    DWORD capacity;
    unsigned char* bytes;
    OVERLAPPED* home;
    int busy;
};

static IoRequest* NewRequest(DWORD length)
{
    HANDLE event = Device.CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!event)
        return nullptr;
    IoRequest* request = new IoRequest;
    memset(&request->block, 0, sizeof request->block);
    request->block.hEvent = event;
    request->next = nullptr;
    request->length = length;
    request->capacity = length ? length : 1;
    request->bytes = new unsigned char[request->capacity];
    request->home = nullptr;
    request->busy = 1;
    return request;
}

static void FreeRequest(IoRequest* request)
{
    if (!request->home)
        Device.CloseHandle(request->block.hEvent);
    delete[] request->bytes;
    delete request;
}

// The port's kept request for one direction, ready for `length` bytes; a
// request of its own when the kept one is busy or the port has no event to
// lend.
static IoRequest* TakeRequest(IoRequest** kept, OVERLAPPED* home, DWORD length, DWORD room)
{
    IoRequest* request = *kept;
    if (request && request->busy)
        return NewRequest(length);
    if (!request) {
        if (!home->hEvent)
            return NewRequest(length);
        request = new IoRequest;
        request->next = nullptr;
        request->capacity = 0;
        request->bytes = nullptr;
        request->home = home;
        *kept = request;
    }
    if (request->capacity < length || !request->bytes) {
        delete[] request->bytes;
        request->capacity = length > room ? length : room;
        request->bytes = new unsigned char[request->capacity];
    }
    memset(&request->block, 0, sizeof request->block);
    request->block.hEvent = home->hEvent;
    request->length = length;
    request->busy = 1;
    return request;
}

// For a request the device has finished with.
static void ReturnRequest(IoRequest* request)
{
    if (request->home)
        request->busy = 0;
    else
        FreeRequest(request);
}

// A kept request leaves the port's keeping with the event it borrowed; the
// port's block gets a fresh event (none when closing) for the next one.
static void DisownRequest(PortRecord* port, IoRequest* request, bool replaceEvent)
{
    if (!request->home)
        return;
    if (port->keptRead == request)
        port->keptRead = nullptr;
    if (port->keptWrite == request)
        port->keptWrite = nullptr;
    request->home->hEvent =
        replaceEvent ? Device.CreateEventA(nullptr, TRUE, FALSE, nullptr) : nullptr;
    request->home = nullptr;
}

static void AbandonRequest(PortRecord* port, IoRequest* request, bool replaceEvent = true)
{
    DisownRequest(port, request, replaceEvent);
    request->next = port->abandoned;
    port->abandoned = request;
}

// Kept requests that are not outstanding; their events belong to the port.
static void FreeKeptRequest(IoRequest** kept)
{
    IoRequest* request = *kept;
    *kept = nullptr;
    if (!request)
        return;
    delete[] request->bytes;
    delete request;
}

static bool RequestSignalled(IoRequest* request, DWORD ms)
{
    return Device.WaitForSingleObject(request->block.hEvent, ms) == WAIT_OBJECT_0;
}

// Frees the abandoned requests the device has finished with since.
static void ReapAbandonedRequests(PortRecord* port)
{
    IoRequest** link = &port->abandoned;
    while (*link) {
        IoRequest* request = *link;
        DWORD moved = 0;
        bool settled = true;
        if (!Device.GetOverlappedResult(port->device, &request->block, &moved, FALSE)) {
            DWORD code = GetLastError();
            settled = code != ERROR_IO_INCOMPLETE && RequestSignalled(request, 0);
        }
        if (settled) {
            *link = request->next;
            FreeRequest(request);
        } else {
            link = &request->next;
        }
    }
}

void ReleaseOutstandingIo(PortRecord* port)
{
    if (port->pendingWrite)
        AbandonRequest(port, port->pendingWrite, false);
    port->pendingWrite = nullptr;
    port->writePending = 0;
    IoRequest* request = port->abandoned;
    port->abandoned = nullptr;
    while (request) {
        IoRequest* next = request->next;
        // A request that does not settle even after purge and close may still
        // be written by the device: it is left allocated on purpose.
        if (RequestSignalled(request, SETTLE_WAIT_MS))
            FreeRequest(request);
        request = next;
    }
    FreeKeptRequest(&port->keptRead);
    FreeKeptRequest(&port->keptWrite);
}

void ReportCommError(const char* prefix, int code, const char* secondText, int secondCode)
{
    char text[80];
    if (!secondText)
        snprintf(text, sizeof text, "%s%d", prefix, code);
    else
        snprintf(text, sizeof text, "%s %d %s %d", prefix, code, secondText, secondCode);
    ShowMessageBox(FrameWindow, text, nullptr, MB_ICONQUESTION);
}

static int SiteIndex(unsigned site)
{
    int index = 0;
    while (site > 1) {
        site >>= 1;
        index++;
    }
    return index;
}

int StartsFailureRun(PortRecord* port, unsigned site, int code)
{
    int index = SiteIndex(site);
    if ((port->failingSites & site) && port->failingCodes[index] == code)
        return 0;
    port->failingSites |= site;
    port->failingCodes[index] = code;
    return 1;
}

void EndFailureRun(PortRecord* port, unsigned sites)
{
    port->failingSites &= ~sites;
}

// `polled`: the poll's own repeated call, whose lasting failure shows once.
static void ReportFailure(PortRecord* port, int polled, unsigned site, const char* prefix, int code,
                          const char* secondText, int secondCode)
{
    if (!polled || StartsFailureRun(port, site, code))
        ReportCommError(prefix, code, secondText, secondCode);
}

static HANDLE CreateBlockEvent(const char* failureText)
{
    HANDLE event = Device.CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!event)
        ReportCommError(failureText, 0, nullptr, 0);
    return event;
}

int OpenPort(PortRecord* port, const char* name)
{
    lstrcpynA(port->name, name, 16);
    // The system does not always enforce exclusive use of a COM device, so a
    // port this program already holds is refused here as the system would.
    if (FindOpenPort(port->name)) {
        SetLastError(ERROR_ACCESS_DENIED);
        ReportCommError("Error from CreateFile:", ERROR_ACCESS_DENIED, port->name, 0);
        return 1;
    }
    char path[20];
    snprintf(path, sizeof path, "\\\\.\\%s", port->name);
    HANDLE device =
        Device.CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        ReportCommError("Error from CreateFile:", (int)GetLastError(), port->name, 0);
        return 1;
    }
    port->device = device;
    port->readBlock.hEvent = CreateBlockEvent("Error A CreateEvent");
    port->writeBlock.hEvent = CreateBlockEvent("Error B CreateEvent");
    memset(&port->eventBlock, 0, sizeof port->eventBlock);
    port->eventBlock.hEvent = CreateBlockEvent("Error C CreateEvent");
    port->writePending = 0;
    ProbeLoopback(port);
    port->next = PortListHead;
    PortListHead = port;
    return 0;
}

// Waits for the write the previous call left outstanding. Returns the box
// text prefix and code to report, or a null prefix when it completed well;
// `site` is the failure run it belongs to, 0 for a time-out.
static const char* FinishPendingWrite(PortRecord* port, int* code, unsigned* site)
{
    IoRequest* request = port->pendingWrite;
    port->pendingWrite = nullptr;
    port->writePending = 0;
    if (!request)
        return nullptr;
    DWORD wait = Device.WaitForSingleObject(request->block.hEvent, WRITE_WAIT_MS);
    if (wait != WAIT_OBJECT_0) {
        AbandonRequest(port, request);
        *code = (int)wait;
        return "ComOut Pending Failed, stat:";
    }
    DWORD sent = 0;
    if (Device.GetOverlappedResult(port->device, &request->block, &sent, FALSE)) {
        ReturnRequest(request);
        EndFailureRun(port, FAILING_WRITE_RESULT);
        return nullptr;
    }
    *code = (int)GetLastError();
    if (*code == ERROR_IO_INCOMPLETE) {
        AbandonRequest(port, request);
        return "Timeout Comout GetOverLappedResult:";
    }
    ReturnRequest(request);
    *site = FAILING_WRITE_RESULT;
    return "Error Comout GetOverLappedResult:";
}

static int WriteFrom(PortRecord* port, const void* data, DWORD length, int polled)
{
    if (length == 0)
        length = (DWORD)strlen((const char*)data);
    ReapAbandonedRequests(port);
    if (port->writePending) {
        int code = 0;
        unsigned site = 0;
        const char* failure = FinishPendingWrite(port, &code, &site);
        if (failure && (site == 0 || !polled || StartsFailureRun(port, site, code))) {
            // The box runs a message loop that may close this port.
            RecordWatch watch;
            WatchRecord(&watch, port);
            ReportCommError(failure, code, nullptr, 0);
            UnwatchRecord(&watch);
            if (watch.closed)
                return 0;
        }
    }
    IoRequest* request = TakeRequest(&port->keptWrite, &port->writeBlock, length, 1);
    if (!request) {
        ReportFailure(port, polled, FAILING_WRITE, "Com Write Error:", (int)GetLastError(), nullptr,
                      0);
        return 0;
    }
    memcpy(request->bytes, data, length);
    DWORD written = 0;
    if (Device.WriteFile(port->device, request->bytes, length, &written, &request->block)) {
        port->counters.bytesSent += length;
        ReturnRequest(request);
        EndFailureRun(port, FAILING_WRITE | FAILING_WRITE_RESULT);
        return 0;
    }
    DWORD code = GetLastError();
    if (code != ERROR_IO_PENDING) {
        ReturnRequest(request);
        ReportFailure(port, polled, FAILING_WRITE, "Com Write Error:", (int)code, nullptr, 0);
        return 0;
    }
    EndFailureRun(port, FAILING_WRITE);
    port->counters.bytesSent += length;
    // A write issued from inside a box of an earlier write may still be
    // tracked; it stays alive until it completes.
    if (port->pendingWrite)
        AbandonRequest(port, port->pendingWrite);
    port->pendingWrite = request;
    port->writePending = 1;
    return 0;
}

int WritePort(PortRecord* port, const void* data, DWORD length)
{
    return WriteFrom(port, data, length, 0);
}

int PollWritePort(PortRecord* port, const void* data, DWORD length)
{
    return WriteFrom(port, data, length, 1);
}

int WriteOutstanding(PortRecord* port)
{
    IoRequest* request = port->pendingWrite;
    return request && Device.WaitForSingleObject(request->block.hEvent, 0) != WAIT_OBJECT_0;
}

static void DeliverRead(IoRequest* request, void* buffer, DWORD got, DWORD* count)
{
    if (got > request->length)
        got = request->length;
    memcpy(buffer, request->bytes, got);
    *count = got;
}

static int ReadFrom(PortRecord* port, void* buffer, DWORD wanted, DWORD* count, int polled)
{
    ReapAbandonedRequests(port);
    IoRequest* request = TakeRequest(&port->keptRead, &port->readBlock, wanted, CACHED_READ_BYTES);
    if (!request) {
        ReportFailure(port, polled, FAILING_READ, "Error On Read!:", (int)GetLastError(),
                      ",Wanted:", (int)wanted);
        return 1;
    }
    DWORD got = 0;
    if (Device.ReadFile(port->device, request->bytes, wanted, &got, &request->block)) {
        DeliverRead(request, buffer, got, count);
        ReturnRequest(request);
        EndFailureRun(port, FAILING_READ | FAILING_READ_RESULT);
        if (*count != wanted)
            ReportCommError("ComRead Error B Bytes, got:", (int)*count, ",Wanted:", (int)wanted);
        return 0;
    }
    DWORD code = GetLastError();
    if (code != ERROR_IO_PENDING) {
        ReturnRequest(request);
        ReportFailure(port, polled, FAILING_READ, "Error On Read!:", (int)code,
                      ",Wanted:", (int)wanted);
        return 1;
    }
    EndFailureRun(port, FAILING_READ);
    DWORD wait = Device.WaitForSingleObject(request->block.hEvent, READ_WAIT_MS);
    if (wait != WAIT_OBJECT_0) {
        AbandonRequest(port, request);
        *count = 0;
        ReportCommError("ComIn Pending Failed!:", (int)wait, ",Wanted:", (int)wanted);
        return 1;
    }
    if (!Device.GetOverlappedResult(port->device, &request->block, &got, FALSE)) {
        code = GetLastError();
        if (code == ERROR_IO_INCOMPLETE) {
            AbandonRequest(port, request);
            ReportCommError("Timeout Comin GetOverLappedResult:", (int)code, nullptr, 0);
        } else {
            ReturnRequest(request);
            ReportFailure(port, polled, FAILING_READ_RESULT,
                          "Error Comin GetOverLappedResult:", (int)code, nullptr, 0);
        }
        return 1;
    }
    EndFailureRun(port, FAILING_READ_RESULT);
    DeliverRead(request, buffer, got, count);
    ReturnRequest(request);
    if (*count == wanted)
        return 0;
    DWORD delivered = *count;
    ReportCommError("ComRead Bytes, got:", (int)delivered, ",Wanted:", (int)wanted);
    return delivered > 0 ? 0 : 1;
}

int ReadPort(PortRecord* port, void* buffer, DWORD wanted, DWORD* count)
{
    return ReadFrom(port, buffer, wanted, count, 0);
}

int PollReadPort(PortRecord* port, void* buffer, DWORD wanted, DWORD* count)
{
    return ReadFrom(port, buffer, wanted, count, 1);
}
