// The simulator's stand-ins for the system's serial functions, with their
// exact signatures, so the device seam can point at them.
#include "port/device.h"
#include "sim/sim_internal.h"

#include <algorithm>
#include <ctype.h>
#include <string.h>

namespace Sim
{

static void CountCall(Call call, int number)
{
    S.totalCalls[call]++;
    if (S.logging)
        S.log.push_back(LoggedCall{call, number, 0});
    if (number == 0)
        return;
    std::vector<int>& counts = S.portCalls[number];
    if (counts.empty())
        counts.assign(CALL_COUNT, 0);
    counts[call]++;
}

static bool TakeFault(Call call, int number, DWORD* error)
{
    for (size_t i = 0; i < S.faults.size(); ++i) {
        Fault& f = S.faults[i];
        if (f.call != call || (f.number != 0 && f.number != number))
            continue;
        if (f.skip > 0) {
            f.skip--;
            continue;
        }
        *error = f.error;
        if (f.times > 0 && --f.times == 0)
            S.faults.erase(S.faults.begin() + i);
        return true;
    }
    return false;
}

// The size or code of the call just logged.
static void LogValue(DWORD value)
{
    if (S.logging)
        S.log.back().value = value;
}

// Every device call starts here: the clock catches up, the call is counted,
// an injected fault fires, and only then is the handle checked.
static Port* EnterDevice(Call call, HANDLE handle, bool allowUnplugged = false)
{
    SyncRealTime();
    HandleEntry* h = FindHandle(handle);
    int number = h ? h->port : 0;
    CountCall(call, number);
    DWORD error = 0;
    if (TakeFault(call, number, &error)) {
        SetLastError(error);
        return nullptr;
    }
    Port* p = h && h->device ? FindPort(number) : nullptr;
    if (!p) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (p->unplugged && !allowUnplugged) {
        SetLastError(ERROR_BAD_COMMAND);
        return nullptr;
    }
    return p;
}

static void ServiceAround(Port& p)
{
    ServiceQueues(p);
    if (p.nullModemPeer)
        if (Port* peer = FindPort(p.nullModemPeer))
            ServiceQueues(*peer);
}

// The request's event is reset when it starts, as the system does.
static void StartRequest(Port& p, LPOVERLAPPED overlapped)
{
    if (!overlapped)
        return;
    HandleEntry* e = FindHandle(overlapped->hEvent);
    if (e && !e->device) {
        e->signaled = false;
        e->port = p.number;
    }
}

static BOOL FinishAtOnce(LPOVERLAPPED overlapped, LPDWORD count, DWORD n)
{
    if (overlapped) {
        overlapped->Internal = 0;
        overlapped->InternalHigh = n;
        SignalEvent(overlapped->hEvent);
    }
    if (count)
        *count = n;
    return TRUE;
}

static BOOL GoPending(Port& p, Request* r)
{
    r->overlapped->Internal = STATUS_VALUE_PENDING;
    r->overlapped->InternalHigh = 0;
    if (r->timed)
        p.timed.push_back(r);
    else if (r->read)
        p.reads.push_back(r);
    else
        p.writes.push_back(r);
    ServiceQueues(p);
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

static Request* NewRequest(bool read, HANDLE device, LPOVERLAPPED overlapped, DWORD length)
{
    Request* r = new Request;
    r->read = read;
    r->device = device;
    r->overlapped = overlapped;
    r->event = overlapped->hEvent;
    r->length = length;
    return r;
}

static int ParsePortName(LPCSTR name)
{
    if (!name)
        return 0;
    if (strncmp(name, "\\\\.\\", 4) == 0)
        name += 4;
    if (_strnicmp(name, "COM", 3) != 0 || !isdigit((unsigned char)name[3]))
        return 0;
    int number = 0;
    for (name += 3; isdigit((unsigned char)*name); ++name) {
        number = number * 10 + (*name - '0');
        if (number > 1000000)
            return 0;
    }
    return *name ? 0 : number;
}

static void OpenDevice(Port& p)
{
    ApplyLineControl(p);
    p.loopback = false;
    p.breakOn = false;
    p.xoffByEscape = false;
    p.xoffByChar = false;
    p.xoffSent = false;
    p.lineCredit = 0;
}

// The last handle is gone: the driver drops its lines and frees its queues.
static void CloseDevice(Port& p)
{
    AbortRequests(p, nullptr, true, true);
    p.input.Clear();
    p.output.Clear();
    p.rts = false;
    p.dtr = false;
    OpenDevice(p);
    p.rts = false;
    p.dtr = false;
}

static HANDLE WINAPI SimCreateFileA(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                    HANDLE)
{
    SyncRealTime();
    int number = ParsePortName(name);
    CountCall(CALL_CREATE_FILE, number);
    DWORD error = 0;
    if (TakeFault(CALL_CREATE_FILE, number, &error)) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    Port* p = FindPort(number);
    if (!p || p->unplugged) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (p->openCount++ == 0)
        OpenDevice(*p);
    HandleEntry entry;
    entry.device = true;
    entry.port = number;
    SetLastError(0);
    return NewHandle(entry);
}

static BOOL WINAPI SimReadFile(HANDLE device, LPVOID buffer, DWORD wanted, LPDWORD count,
                               LPOVERLAPPED overlapped)
{
    if (count)
        *count = 0;
    Port* p = EnterDevice(CALL_READ_FILE, device);
    LogValue(wanted);
    if (!p)
        return FALSE;
    unsigned char* out = (unsigned char*)buffer;
    StartRequest(*p, overlapped);
    if (p->shortReadArmed) {
        p->shortReadArmed = false;
        DWORD n = (DWORD)p->input.Pop(out, std::min(wanted, p->shortReadBytes));
        ServiceQueues(*p);
        return FinishAtOnce(overlapped, count, n);
    }
    if (p->pendingReadArmed && overlapped) {
        p->pendingReadArmed = false;
        Request* r = NewRequest(true, device, overlapped, wanted);
        r->buffer = out;
        r->delivered = std::min(wanted, p->pendingReadBytes);
        r->data.resize(r->delivered);
        r->timed = true;
        r->due = p->pendingReadAfter == INFINITE ? NEVER : S.now + p->pendingReadAfter;
        return GoPending(*p, r);
    }
    if (p->reads.empty() && p->input.count >= wanted) {
        p->input.Pop(out, wanted);
        ServiceQueues(*p);
        return FinishAtOnce(overlapped, count, wanted);
    }
    if (!overlapped) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Request* r = NewRequest(true, device, overlapped, wanted);
    r->buffer = out;
    r->data.resize(wanted);
    return GoPending(*p, r);
}

static BOOL WINAPI SimWriteFile(HANDLE device, LPCVOID data, DWORD length, LPDWORD count,
                                LPOVERLAPPED overlapped)
{
    if (count)
        *count = 0;
    Port* p = EnterDevice(CALL_WRITE_FILE, device);
    LogValue(length);
    if (!p)
        return FALSE;
    const unsigned char* bytes = (const unsigned char*)data;
    StartRequest(*p, overlapped);
    if (p->pendingWriteArmed && overlapped) {
        p->pendingWriteArmed = false;
        Request* r = NewRequest(false, device, overlapped, length);
        r->data.assign(bytes, bytes + length);
        r->timed = true;
        r->due = p->pendingWriteAfter == INFINITE ? NEVER : S.now + p->pendingWriteAfter;
        r->done = (DWORD)p->output.Push(bytes, length);
        return GoPending(*p, r);
    }
    if (p->writes.empty() && !OutputHeld(*p) && p->output.Free() >= length) {
        p->output.Push(bytes, length);
        return FinishAtOnce(overlapped, count, length);
    }
    if (!overlapped) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Request* r = NewRequest(false, device, overlapped, length);
    r->data.assign(bytes, bytes + length);
    return GoPending(*p, r);
}

static bool TakeSignal(HANDLE event)
{
    HandleEntry* e = FindHandle(event);
    if (!e || !e->signaled)
        return false;
    if (!e->manualReset)
        e->signaled = false;
    return true;
}

static DWORD WaitForEvent(HANDLE event, DWORD timeout)
{
    if (S.realTime) {
        // Really waits, but never without bound.
        ULONGLONG start = RealMs();
        ULONGLONG limit = timeout == INFINITE ? 60000 : timeout;
        for (;;) {
            SyncRealTime();
            if (TakeSignal(event))
                return WAIT_OBJECT_0;
            if (RealMs() - start >= limit)
                return WAIT_TIMEOUT;
            ::Sleep(1);
        }
    }
    ULONGLONG deadline = timeout == INFINITE ? NEVER : S.now + timeout;
    for (;;) {
        if (TakeSignal(event))
            return WAIT_OBJECT_0;
        if (S.now >= deadline)
            return WAIT_TIMEOUT;
        // Nothing could ever signal it: an endless wait would hang the test.
        if (deadline == NEVER && !CanProgress())
            return WAIT_TIMEOUT;
        StepTowards(deadline);
    }
}

static BOOL WINAPI SimGetOverlappedResult(HANDLE device, LPOVERLAPPED overlapped, LPDWORD count,
                                          BOOL wait)
{
    if (!EnterDevice(CALL_GET_OVERLAPPED_RESULT, device))
        return FALSE;
    if (!overlapped) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (overlapped->Internal == STATUS_VALUE_PENDING && wait && FindHandle(overlapped->hEvent))
        WaitForEvent(overlapped->hEvent, INFINITE);
    if (overlapped->Internal == STATUS_VALUE_PENDING) {
        SetLastError(ERROR_IO_INCOMPLETE);
        return FALSE;
    }
    if (count)
        *count = (DWORD)overlapped->InternalHigh;
    if (overlapped->Internal == STATUS_VALUE_CANCELLED) {
        SetLastError(ERROR_OPERATION_ABORTED);
        return FALSE;
    }
    return TRUE;
}

static DWORD WINAPI SimWaitForSingleObject(HANDLE handle, DWORD timeout)
{
    SyncRealTime();
    HandleEntry* h = FindHandle(handle);
    int number = h ? h->port : 0;
    CountCall(CALL_WAIT, number);
    DWORD error = 0;
    if (TakeFault(CALL_WAIT, number, &error)) {
        SetLastError(error);
        return WAIT_FAILED;
    }
    if (!h || h->device) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return WaitForEvent(handle, timeout);
}

static HANDLE WINAPI SimCreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState,
                                     LPCSTR)
{
    SyncRealTime();
    CountCall(CALL_CREATE_EVENT, 0);
    DWORD error = 0;
    if (TakeFault(CALL_CREATE_EVENT, 0, &error)) {
        SetLastError(error);
        return nullptr;
    }
    HandleEntry entry;
    entry.signaled = initialState != FALSE;
    entry.manualReset = manualReset != FALSE;
    return NewHandle(entry);
}

static BOOL WINAPI SimCloseHandle(HANDLE handle)
{
    SyncRealTime();
    HandleEntry* h = FindHandle(handle);
    int number = h ? h->port : 0;
    CountCall(CALL_CLOSE_HANDLE, number);
    DWORD error = 0;
    if (TakeFault(CALL_CLOSE_HANDLE, number, &error)) {
        SetLastError(error);
        return FALSE;
    }
    if (!h) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (h->device) {
        if (Port* p = FindPort(number)) {
            AbortRequests(*p, handle, true, true);
            if (--p->openCount == 0)
                CloseDevice(*p);
            ServiceAround(*p);
        }
    }
    S.handles.erase((ULONG_PTR)handle);
    return TRUE;
}

static BOOL WINAPI SimClearCommError(HANDLE device, LPDWORD errors, LPCOMSTAT comstat)
{
    Port* p = EnterDevice(CALL_CLEAR_COMM_ERROR, device);
    if (!p)
        return FALSE;
    if (errors)
        *errors = p->errors;
    p->errors = 0;
    if (comstat) {
        DWORD hold = HoldWordOf(*p);
        memset(comstat, 0, sizeof *comstat);
        comstat->fCtsHold = (hold & 0x01) != 0;
        comstat->fDsrHold = (hold & 0x02) != 0;
        comstat->fXoffHold = (hold & 0x08) != 0;
        comstat->fXoffSent = (hold & 0x10) != 0;
        comstat->cbInQue = (DWORD)p->input.count;
        comstat->cbOutQue = (DWORD)p->output.count + PendingWriteBytes(*p);
    }
    return TRUE;
}

static BOOL WINAPI SimGetCommModemStatus(HANDLE device, LPDWORD status)
{
    Port* p = EnterDevice(CALL_GET_MODEM_STATUS, device);
    if (!p)
        return FALSE;
    if (!status) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *status = ModemStatusOf(*p);
    return TRUE;
}

static BOOL AnswerLoopback(Port& p, bool on)
{
    BOOL answer = p.loopbackAnswer;
    if (answer == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return answer;
    }
    p.loopback = on;
    ServiceAround(p);
    return answer;
}

static BOOL WINAPI SimEscapeCommFunction(HANDLE device, DWORD function)
{
    Port* p = EnterDevice(CALL_ESCAPE, device);
    LogValue(function);
    if (!p)
        return FALSE;
    p->escapes.push_back(function);
    switch (function) {
    case SETXOFF:
        p->xoffByEscape = true;
        break;
    case SETXON:
        p->xoffByEscape = false;
        p->xoffByChar = false;
        break;
    case SETRTS:
    case CLRRTS:
        p->rts = function == SETRTS;
        break;
    case SETDTR:
    case CLRDTR:
        p->dtr = function == SETDTR;
        break;
    case SETBREAK:
        if (!p->breakOn)
            SendBreak(*p);
        p->breakOn = true;
        break;
    case CLRBREAK:
        p->breakOn = false;
        break;
    case 15648:
    case 15649:
        return AnswerLoopback(*p, function == 15648);
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ServiceAround(*p);
    return TRUE;
}

static BOOL WINAPI SimDeviceIoControl(HANDLE device, DWORD code, LPVOID, DWORD, LPVOID, DWORD,
                                      LPDWORD returned, LPOVERLAPPED)
{
    if (returned)
        *returned = 0;
    Port* p = EnterDevice(CALL_DEVICE_IO_CONTROL, device);
    LogValue(code);
    if (!p)
        return FALSE;
    if (code == 0x1B2014 || code == 0x1B2018)
        return AnswerLoopback(*p, code == 0x1B2014);
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

static BOOL WINAPI SimPurgeComm(HANDLE device, DWORD flags)
{
    Port* p = EnterDevice(CALL_PURGE, device);
    LogValue(flags);
    if (!p)
        return FALSE;
    p->purges.push_back(flags);
    if (flags & ~(DWORD)(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (flags & PURGE_TXABORT)
        AbortRequests(*p, nullptr, false, true);
    if (flags & PURGE_RXABORT)
        AbortRequests(*p, nullptr, true, false);
    if (flags & PURGE_TXCLEAR)
        p->output.Clear();
    if (flags & PURGE_RXCLEAR)
        p->input.Clear();
    ServiceAround(*p);
    return TRUE;
}

static BOOL WINAPI SimGetCommState(HANDLE device, LPDCB dcb)
{
    Port* p = EnterDevice(CALL_GET_COMM_STATE, device);
    if (!p)
        return FALSE;
    if (!dcb) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *dcb = p->dcb;
    dcb->DCBlength = sizeof(DCB);
    return TRUE;
}

static BOOL WINAPI SimSetCommState(HANDLE device, LPDCB dcb)
{
    Port* p = EnterDevice(CALL_SET_COMM_STATE, device);
    if (!p)
        return FALSE;
    if (!dcb || dcb->BaudRate == 0 || dcb->ByteSize < 5 || dcb->ByteSize > 8 || dcb->Parity > 4 ||
        dcb->StopBits > 2) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    p->dcb = *dcb;
    p->dcb.DCBlength = sizeof(DCB);
    ApplyLineControl(*p);
    ServiceAround(*p);
    return TRUE;
}

static void WINAPI SimSleep(DWORD ms)
{
    SyncRealTime();
    CountCall(CALL_SLEEP, 0);
    if (S.realTime) {
        ::Sleep(ms);
        SyncRealTime();
    } else {
        RunTo(S.now + ms);
    }
}

static ULONGLONG WINAPI SimGetTickCount64()
{
    return Now();
}

const DeviceTable SimulatedDevice = {
    SimCreateFileA,         SimReadFile,           SimWriteFile,       SimGetOverlappedResult,
    SimWaitForSingleObject, SimCreateEventA,       SimCloseHandle,     SimClearCommError,
    SimGetCommModemStatus,  SimEscapeCommFunction, SimDeviceIoControl, SimPurgeComm,
    SimGetCommState,        SimSetCommState,       SimSleep,           SimGetTickCount64,
};

} // namespace Sim
