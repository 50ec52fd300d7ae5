#include "sim/sim.h"

#include "port/device.h"
#include "sim/sim_internal.h"

#include <algorithm>
#include <string.h>

namespace Sim
{

State S;

// --- byte ring ---

void ByteRing::Resize(size_t capacity)
{
    std::vector<unsigned char> kept(std::min(count, capacity));
    Pop(kept.data(), kept.size());
    data.assign(capacity, 0);
    head = 0;
    count = 0;
    Push(kept.data(), kept.size());
}

size_t ByteRing::Push(const unsigned char* bytes, size_t length)
{
    size_t n = std::min(length, Free());
    size_t tail = (head + count) % (data.empty() ? 1 : data.size());
    size_t first = std::min(n, data.size() - tail);
    memcpy(data.data() + tail, bytes, first);
    memcpy(data.data(), bytes + first, n - first);
    count += n;
    return n;
}

size_t ByteRing::Pop(unsigned char* bytes, size_t length)
{
    size_t n = std::min(length, count);
    size_t first = std::min(n, data.size() - head);
    if (bytes) {
        memcpy(bytes, data.data() + head, first);
        memcpy(bytes + first, data.data(), n - first);
    }
    head = n ? (head + n) % data.size() : head;
    count -= n;
    if (count == 0)
        head = 0;
    return n;
}

// --- lookup ---

Port* FindPort(int number)
{
    auto it = S.ports.find(number);
    return it == S.ports.end() ? nullptr : it->second.get();
}

HandleEntry* FindHandle(HANDLE handle)
{
    auto it = S.handles.find((ULONG_PTR)handle);
    return it == S.handles.end() ? nullptr : &it->second;
}

HANDLE NewHandle(const HandleEntry& entry)
{
    ULONG_PTR value = S.nextHandle;
    S.nextHandle += 4;
    S.handles[value] = entry;
    return (HANDLE)value;
}

DCB DefaultDcb()
{
    DCB d;
    memset(&d, 0, sizeof d);
    d.DCBlength = sizeof(DCB);
    d.BaudRate = 9600;
    d.fBinary = 1;
    d.fDtrControl = DTR_CONTROL_ENABLE;
    d.fRtsControl = RTS_CONTROL_ENABLE;
    d.XonLim = 2048;
    d.XoffLim = 512;
    d.ByteSize = 8;
    d.Parity = NOPARITY;
    d.StopBits = ONESTOPBIT;
    d.XonChar = 0x11;
    d.XoffChar = 0x13;
    return d;
}

// --- signals and holds ---

static bool Transmitting(const Port& p)
{
    return p.output.count > 0 || !p.writes.empty();
}

// DTR 0x01 and RTS 0x02 as the port drives them; a closed or vanished port
// drives nothing.
static DWORD DrivenLines(const Port& p)
{
    if (p.openCount == 0 || p.unplugged)
        return 0;
    DWORD lines = p.dtr ? 0x01 : 0;
    bool rts = p.dcb.fRtsControl == RTS_CONTROL_TOGGLE ? Transmitting(p) : p.rts;
    return lines | (rts ? 0x02 : 0);
}

static DWORD LoopedStatus(DWORD lines, bool ringFromRts)
{
    DWORD status = 0;
    if (lines & 0x02)
        status |= MS_CTS_ON | (ringFromRts ? MS_RING_ON : 0);
    if (lines & 0x01)
        status |= MS_DSR_ON | MS_RLSD_ON;
    return status;
}

static DWORD WiredStatus(const Port& p)
{
    if (p.loopback)
        return LoopedStatus(DrivenLines(p), false);
    if (p.nullModemPeer) {
        const Port* peer = FindPort(p.nullModemPeer);
        if (!peer || peer->loopback)
            return 0;
        return LoopedStatus(DrivenLines(*peer), false);
    }
    switch (p.wiring) {
    case WIRE_LOOPBACK_PLUG:
        return LoopedStatus(DrivenLines(p), false);
    case WIRE_LOOPBACK_PLUG_RI:
        return LoopedStatus(DrivenLines(p), true);
    case WIRE_DATA_ONLY:
        return 0;
    case WIRE_NONE:
    default:
        return p.peerSignals & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
    }
}

DWORD ModemStatusOf(const Port& p)
{
    return (WiredStatus(p) | p.stuckOn) & ~p.stuckOff;
}

static bool XoffHeld(const Port& p)
{
    return p.xoffByEscape || p.xoffByChar || S.now >= p.heldFrom;
}

bool OutputHeld(const Port& p)
{
    if (XoffHeld(p) || p.breakOn || p.unplugged || p.openCount == 0)
        return true;
    DWORD status = ModemStatusOf(p);
    if (p.dcb.fOutxCtsFlow && !(status & MS_CTS_ON))
        return true;
    if (p.dcb.fOutxDsrFlow && !(status & MS_DSR_ON))
        return true;
    return false;
}

DWORD PendingWriteBytes(const Port& p)
{
    DWORD bytes = 0;
    for (const Request* r : p.writes)
        bytes += r->length - r->done;
    for (const Request* r : p.timed)
        if (!r->read)
            bytes += r->length - r->done;
    return bytes;
}

// The COMSTAT flag bits: fCtsHold 0x01, fDsrHold 0x02, fXoffHold 0x08,
// fXoffSent 0x10.
DWORD HoldWordOf(const Port& p)
{
    DWORD word = 0;
    DWORD status = ModemStatusOf(p);
    bool waiting = p.output.count > 0 || PendingWriteBytes(p) > 0;
    if (waiting && p.dcb.fOutxCtsFlow && !(status & MS_CTS_ON))
        word |= 0x01;
    if (waiting && p.dcb.fOutxDsrFlow && !(status & MS_DSR_ON))
        word |= 0x02;
    if (XoffHeld(p))
        word |= 0x08;
    if (p.xoffSent)
        word |= 0x10;
    return word;
}

void ApplyLineControl(Port& p)
{
    p.rts = p.dcb.fRtsControl != RTS_CONTROL_DISABLE;
    p.dtr = p.dcb.fDtrControl != DTR_CONTROL_DISABLE;
    if (!p.dcb.fOutX)
        p.xoffByChar = false;
}

// --- requests ---

void SignalEvent(HANDLE event)
{
    HandleEntry* e = FindHandle(event);
    if (e && !e->device)
        e->signaled = true;
}

void CompleteRequest(Request* r, ULONG_PTR status, DWORD count)
{
    if (r->read && count)
        memcpy(r->buffer, r->data.data(), count);
    r->overlapped->Internal = status;
    r->overlapped->InternalHigh = count;
    SignalEvent(r->event);
    delete r;
}

void AbortRequests(Port& p, HANDLE device, bool reads, bool writes)
{
    if (p.holdsRequests)
        return;
    auto matches = [&](const Request* r) {
        return (device == nullptr || r->device == device) && (r->read ? reads : writes);
    };
    std::vector<Request*> aborted;
    for (std::deque<Request*>* list : {&p.reads, &p.writes}) {
        std::deque<Request*> kept;
        for (Request* r : *list) {
            if (matches(r))
                aborted.push_back(r);
            else
                kept.push_back(r);
        }
        list->swap(kept);
    }
    std::vector<Request*> keptTimed;
    for (Request* r : p.timed) {
        if (matches(r))
            aborted.push_back(r);
        else
            keptTimed.push_back(r);
    }
    p.timed.swap(keptTimed);
    for (Request* r : aborted)
        CompleteRequest(r, STATUS_VALUE_CANCELLED, r->done);
}

// --- the line engine ---

static void StoreInput(Port& p, const unsigned char* bytes, size_t length)
{
    size_t accepted = p.input.Push(bytes, length);
    if (accepted < length) {
        p.lost += (DWORD)(length - accepted);
        p.errors |= CE_RXOVER;
    }
}

// Bytes reaching the receiver of `p`; with automatic output flow control the
// XON and XOFF characters steer its transmitter and are not stored.
static void Receive(Port& p, const unsigned char* bytes, size_t length)
{
    if (p.unplugged)
        return;
    if (!p.dcb.fOutX) {
        StoreInput(p, bytes, length);
        return;
    }
    size_t start = 0;
    for (size_t i = 0; i < length; ++i) {
        unsigned char b = bytes[i];
        if (b != p.dcb.XoffChar && b != p.dcb.XonChar)
            continue;
        StoreInput(p, bytes + start, i - start);
        start = i + 1;
        p.xoffByChar = b == p.dcb.XoffChar;
    }
    StoreInput(p, bytes + start, length - start);
}

void DeliverFromOutside(Port& p, const unsigned char* bytes, size_t length)
{
    if (!p.loopback)
        Receive(p, bytes, length);
}

// Where the port's transmitted bytes go; null: to the far end (PeerTake).
static Port* ReceiverOf(Port& p)
{
    if (p.loopback)
        return &p;
    if (p.nullModemPeer)
        return FindPort(p.nullModemPeer);
    return p.wiring == WIRE_NONE ? nullptr : &p;
}

static void PutOnLine(Port& p, const unsigned char* bytes, size_t length)
{
    Port* to = ReceiverOf(p);
    std::string faulty;
    if (p.fault != FAULT_NONE) {
        if (ApplyLineFault(p, bytes, length, &faulty) && to)
            to->errors |= CE_FRAME;
        bytes = (const unsigned char*)faulty.data();
        length = faulty.size();
        if (p.fault == FAULT_PULLED)
            return;
    }
    if (p.loopback) {
        Receive(p, bytes, length);
    } else if (to) {
        DeliverFromOutside(*to, bytes, length);
    } else if (!p.nullModemPeer) {
        if (p.peerTaken.size() > (16u << 20))
            p.peerTaken.erase(0, p.peerTaken.size() / 2);
        p.peerTaken.append((const char*)bytes, length);
    }
}

void SendBreak(Port& p)
{
    Port* to = ReceiverOf(p);
    if (to && (to == &p || !to->loopback))
        to->errors |= CE_BREAK;
}

static void ServiceReads(Port& p)
{
    while (!p.reads.empty()) {
        Request* r = p.reads.front();
        r->done += (DWORD)p.input.Pop(r->data.data() + r->done, r->length - r->done);
        if (r->done < r->length)
            return;
        p.reads.pop_front();
        CompleteRequest(r, 0, r->length);
    }
}

static void ServiceWrites(Port& p)
{
    while (!p.writes.empty() && !OutputHeld(p)) {
        Request* r = p.writes.front();
        r->done += (DWORD)p.output.Push(r->data.data() + r->done, r->length - r->done);
        if (r->done < r->length)
            return;
        p.writes.pop_front();
        CompleteRequest(r, 0, r->length);
    }
}

// Receiver-side XON/XOFF: tell the far end to stop before the input queue
// overflows, and to go on once it has room again.
static void ServiceInputFlow(Port& p)
{
    if (!p.dcb.fInX || p.openCount == 0) {
        p.xoffSent = false;
        return;
    }
    size_t size = p.input.data.size();
    size_t stopAt = size > p.dcb.XoffLim ? size - p.dcb.XoffLim : 0;
    unsigned char c = 0;
    if (!p.xoffSent && p.input.count >= stopAt) {
        p.xoffSent = true;
        c = p.dcb.XoffChar;
    } else if (p.xoffSent && p.input.count <= p.dcb.XonLim) {
        p.xoffSent = false;
        c = p.dcb.XonChar;
    }
    if (c)
        PutOnLine(p, &c, 1);
}

void ServiceQueues(Port& p)
{
    ServiceReads(p);
    ServiceWrites(p);
    ServiceInputFlow(p);
}

static ULONGLONG HalfBitsPerChar(const DCB& d)
{
    ULONGLONG stop = d.StopBits == ONESTOPBIT ? 2 : d.StopBits == ONE5STOPBITS ? 3 : 4;
    return 2 * (1 + d.ByteSize + (d.Parity != NOPARITY ? 1 : 0)) + stop;
}

// One millisecond of the port's transmitter.
static void RunLine(Port& p)
{
    ServiceWrites(p);
    if (OutputHeld(p) || p.output.count == 0) {
        p.lineCredit = 0;
        return;
    }
    ULONGLONG cost = HalfBitsPerChar(p.dcb) * 1000;
    p.lineCredit += 2ULL * p.dcb.BaudRate;
    ULONGLONG chars = p.lineCredit / cost;
    p.lineCredit -= chars * cost;
    unsigned char chunk[512];
    while (chars > 0 && p.output.count > 0 && !OutputHeld(p)) {
        size_t take = (size_t)std::min<ULONGLONG>(chars, sizeof chunk);
        // A looped-back XOFF must hold the very next character.
        if (p.dcb.fOutX && ReceiverOf(p) == &p)
            take = 1;
        take = p.output.Pop(chunk, take);
        chars -= take;
        PutOnLine(p, chunk, take);
        ServiceWrites(p);
    }
    if (p.output.count == 0 || OutputHeld(p))
        p.lineCredit = 0;
}

static bool LineActive(const Port& p)
{
    return (p.output.count > 0 || !p.writes.empty()) && !OutputHeld(p);
}

static ULONGLONG NextDue(const Port& p)
{
    ULONGLONG due = p.vanishAt;
    for (const Request* r : p.timed)
        due = std::min(due, r->due);
    return due;
}

static void CompleteDueRequests(Port& p)
{
    for (size_t i = 0; i < p.timed.size();) {
        Request* r = p.timed[i];
        if (r->due > S.now) {
            ++i;
            continue;
        }
        p.timed.erase(p.timed.begin() + i);
        if (r->read) {
            DWORD n = (DWORD)p.input.Pop(r->data.data(), r->delivered);
            memset(r->data.data() + n, 'x', r->delivered - n);
            CompleteRequest(r, 0, r->delivered);
        } else {
            p.output.Push(r->data.data() + r->done, r->length - r->done);
            CompleteRequest(r, 0, r->length);
        }
    }
}

bool CanProgress()
{
    for (auto& entry : S.ports) {
        const Port& p = *entry.second;
        if (LineActive(p) || NextDue(p) != NEVER)
            return true;
    }
    return false;
}

bool StepTowards(ULONGLONG target)
{
    if (S.now >= target)
        return false;
    bool active = false;
    ULONGLONG nextDue = NEVER;
    for (auto& entry : S.ports) {
        Port& p = *entry.second;
        active = active || LineActive(p);
        nextDue = std::min(nextDue, NextDue(p));
    }
    if (nextDue <= S.now) {
        // Requests already due complete before time moves on.
    } else if (active) {
        S.now += 1;
        for (auto& entry : S.ports)
            RunLine(*entry.second);
    } else if (nextDue != NEVER) {
        S.now = std::min(nextDue, target);
    } else {
        S.now = target;
        return false;
    }
    for (auto& entry : S.ports) {
        if (entry.second->vanishAt <= S.now)
            Vanish(*entry.second);
        CompleteDueRequests(*entry.second);
        ServiceQueues(*entry.second);
    }
    return true;
}

void RunTo(ULONGLONG target)
{
    while (S.now < target)
        StepTowards(target);
}

ULONGLONG RealMs()
{
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    ULONGLONG c = (ULONGLONG)count.QuadPart;
    ULONGLONG f = (ULONGLONG)frequency.QuadPart;
    return c / f * 1000 + c % f * 1000 / f;
}

void SyncRealTime()
{
    if (!S.realTime)
        return;
    LONGLONG target = S.realOffset + (LONGLONG)RealMs();
    if (target > (LONGLONG)S.now)
        RunTo((ULONGLONG)target);
}

// --- the public interface ---

void Reset()
{
    for (auto& entry : S.ports) {
        Port& p = *entry.second;
        for (Request* r : p.reads)
            delete r;
        for (Request* r : p.writes)
            delete r;
        for (Request* r : p.timed)
            delete r;
    }
    S.ports.clear();
    S.handles.clear();
    S.nextHandle = 0x5170;
    S.now = 0;
    S.realTime = false;
    S.realOffset = 0;
    S.faults.clear();
    for (int& c : S.totalCalls)
        c = 0;
    S.portCalls.clear();
    S.log.clear();
    S.logging = false;
}

void Install()
{
    Reset();
    Device = SimulatedDevice;
}

void Uninstall()
{
    Reset();
    Device = SystemDevice;
}

void AddPort(int number, Wiring wiring)
{
    Port* p = FindPort(number);
    if (!p) {
        S.ports[number].reset(new Port);
        p = FindPort(number);
        p->number = number;
        p->dcb = DefaultDcb();
        p->input.Resize(DEFAULT_QUEUE_SIZE);
        p->output.Resize(DEFAULT_QUEUE_SIZE);
    }
    p->wiring = wiring;
    p->unplugged = false;
}

void AddPorts(int first, int count, Wiring wiring)
{
    for (int i = 0; i < count; ++i)
        AddPort(first + i, wiring);
}

void ConnectNullModem(int a, int b)
{
    AddPort(a, WIRE_NONE);
    AddPort(b, WIRE_NONE);
    for (int end : {a, b}) {
        Port* old = FindPort(FindPort(end)->nullModemPeer);
        if (old)
            old->nullModemPeer = 0;
    }
    FindPort(a)->nullModemPeer = b;
    FindPort(b)->nullModemPeer = a;
}

void Vanish(Port& p)
{
    AbortRequests(p, nullptr, true, true);
    p.unplugged = true;
    p.vanishAt = NEVER;
}

void Unplug(int number)
{
    Port* p = FindPort(number);
    if (!p)
        return;
    SyncRealTime();
    Vanish(*p);
}

void SetLoopbackAnswer(int number, BOOL answer)
{
    if (Port* p = FindPort(number))
        p->loopbackAnswer = answer;
}

void SetQueueSizes(int number, DWORD inputBytes, DWORD outputBytes)
{
    if (Port* p = FindPort(number)) {
        p->input.Resize(std::max<DWORD>(inputBytes, 1));
        p->output.Resize(std::max<DWORD>(outputBytes, 1));
    }
}

void SetRealTime(bool on)
{
    SyncRealTime();
    S.realTime = on;
    if (on)
        S.realOffset = (LONGLONG)S.now - (LONGLONG)RealMs();
}

void Advance(DWORD ms)
{
    SyncRealTime();
    RunTo(S.now + ms);
    S.realOffset += ms;
}

ULONGLONG Now()
{
    SyncRealTime();
    return S.now;
}

void PeerSend(int number, const void* data, DWORD length)
{
    SyncRealTime();
    if (Port* p = FindPort(number)) {
        DeliverFromOutside(*p, (const unsigned char*)data, length);
        ServiceQueues(*p);
    }
}

std::string PeerTake(int number)
{
    SyncRealTime();
    std::string taken;
    if (Port* p = FindPort(number))
        taken.swap(p->peerTaken);
    return taken;
}

void SetPeerSignals(int number, DWORD modemStatusBits)
{
    SyncRealTime();
    if (Port* p = FindPort(number)) {
        p->peerSignals = modemStatusBits;
        ServiceQueues(*p);
    }
}

void SetStuckSignals(int number, DWORD on, DWORD off)
{
    SyncRealTime();
    if (Port* p = FindPort(number)) {
        p->stuckOn = on;
        p->stuckOff = off;
        ServiceQueues(*p);
    }
}

void InjectLineErrors(int number, DWORD ceBits)
{
    if (Port* p = FindPort(number))
        p->errors |= ceBits;
}

bool IsOpen(int number)
{
    Port* p = FindPort(number);
    return p && p->openCount > 0;
}

DWORD OutputLines(int number)
{
    SyncRealTime();
    Port* p = FindPort(number);
    return p ? DrivenLines(*p) : 0;
}

bool BreakOn(int number)
{
    Port* p = FindPort(number);
    return p && p->breakOn;
}

bool LoopbackOn(int number)
{
    Port* p = FindPort(number);
    return p && p->loopback;
}

DWORD InputQueue(int number)
{
    SyncRealTime();
    Port* p = FindPort(number);
    return p ? (DWORD)p->input.count : 0;
}

DWORD OutputQueue(int number)
{
    SyncRealTime();
    Port* p = FindPort(number);
    return p ? (DWORD)p->output.count + PendingWriteBytes(*p) : 0;
}

DWORD HoldFlagsOf(int number)
{
    SyncRealTime();
    Port* p = FindPort(number);
    return p ? HoldWordOf(*p) : 0;
}

DWORD LostBytes(int number)
{
    Port* p = FindPort(number);
    return p ? p->lost : 0;
}

DCB CommState(int number)
{
    Port* p = FindPort(number);
    return p ? p->dcb : DefaultDcb();
}

void SetCommStateOf(int number, const DCB& dcb)
{
    SyncRealTime();
    if (Port* p = FindPort(number)) {
        p->dcb = dcb;
        ApplyLineControl(*p);
        ServiceQueues(*p);
    }
}

int OutstandingRequests(int number)
{
    Port* p = FindPort(number);
    return p ? (int)(p->reads.size() + p->writes.size() + p->timed.size()) : 0;
}

int OpenHandles()
{
    return (int)S.handles.size();
}

int CallCount(Call call, int number)
{
    if (call < 0 || call >= CALL_COUNT)
        return 0;
    if (number == 0)
        return S.totalCalls[call];
    auto it = S.portCalls.find(number);
    return it == S.portCalls.end() ? 0 : it->second[call];
}

std::vector<DWORD> Escapes(int number)
{
    Port* p = FindPort(number);
    return p ? p->escapes : std::vector<DWORD>();
}

std::vector<DWORD> Purges(int number)
{
    Port* p = FindPort(number);
    return p ? p->purges : std::vector<DWORD>();
}

void FailCall(Call call, DWORD error, int times, int number, int skip)
{
    if (times != 0)
        S.faults.push_back(Fault{call, error, times, number, skip});
}

void ClearFaults()
{
    S.faults.clear();
}

void NextReadShort(int number, DWORD delivered)
{
    if (Port* p = FindPort(number)) {
        p->shortReadArmed = true;
        p->shortReadBytes = delivered;
    }
}

void NextReadPending(int number, DWORD delivered, DWORD afterMs)
{
    if (Port* p = FindPort(number)) {
        p->pendingReadArmed = true;
        p->pendingReadBytes = delivered;
        p->pendingReadAfter = afterMs;
    }
}

void StartCallLog()
{
    S.log.clear();
    S.logging = true;
}

const std::vector<LoggedCall>& CallLog()
{
    return S.log;
}

void HoldRequests(int number)
{
    if (Port* p = FindPort(number))
        p->holdsRequests = true;
}

void NextWritePending(int number, DWORD afterMs)
{
    if (Port* p = FindPort(number)) {
        p->pendingWriteArmed = true;
        p->pendingWriteAfter = afterMs;
    }
}

} // namespace Sim
