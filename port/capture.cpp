#include "port/capture.h"

#include "port/device.h"
#include "port/port_record.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// Free blocks kept for reuse; more than this go back to the heap.
#define CAPTURE_POOL_LIMIT 160

struct CaptureBlock {
    CaptureBlock* next;
    DWORD used;
    char data[CAPTURE_BLOCK_BYTES];
};

struct Capture {
    Capture* next; // in Captures, under the lock
    char port[20];
    char path[MAX_PATH];
    int form;
    // The user-interface thread's own.
    PortRecord* owner; // null once stopped or failed
    CaptureBlock* filling;
    uint64_t captured;
    // Under the lock.
    HANDLE file; // the writer's from the start on; null once it closed it
    CaptureBlock* queue;
    CaptureBlock* queueTail;
    uint64_t pending; // handed to the writer and not written yet
    uint64_t written;
    int state;
    DWORD error;
    int closing; // nothing more will be handed over
    int busy;    // the writer has blocks of it in hand
    int listed;  // 0: nobody asks for it any more; freed once the writer is done
};

LocalTimeFn CaptureLocalTime = GetLocalTime;
WriteFileFn CaptureWriteFile = WriteFile;

// Every capture that is listed or still has something to write.
static Capture* Captures = nullptr;
static CaptureBlock* FreeBlocks = nullptr;
static uint64_t TotalPending = 0;
static int FreeBlockCount = 0;
static CRITICAL_SECTION Lock;
static HANDLE Wake = nullptr; // auto-reset: there is work for the writer
static HANDLE Idle = nullptr; // manual-reset: the writer has nothing in hand or queued
static HANDLE Writer = nullptr;

// The user-interface thread's own.
static int RunningCaptures = 0;
static ULONGLONG LastFlush = 0;
static char Stamp[64];

static int Matches(const char* port, const char* name)
{
    return !name[0] || lstrcmpiA(port, name) == 0;
}

static int Done(const Capture* c)
{
    return c->closing && !c->busy && !c->queue && !c->file;
}

// Under the lock.
static void ReturnBlocks(CaptureBlock* blocks)
{
    while (blocks) {
        CaptureBlock* next = blocks->next;
        if (FreeBlockCount < CAPTURE_POOL_LIMIT) {
            blocks->next = FreeBlocks;
            FreeBlocks = blocks;
            FreeBlockCount++;
        } else {
            free(blocks);
        }
        blocks = next;
    }
}

// Under the lock.
static void Unlink(Capture* capture)
{
    for (Capture** link = &Captures; *link; link = &(*link)->next) {
        if (*link == capture) {
            *link = capture->next;
            break;
        }
    }
    free(capture);
}

// Under the lock.
static void Describe(const Capture* c, CaptureInfo* info)
{
    memcpy(info->port, c->port, sizeof info->port);
    memcpy(info->path, c->path, sizeof info->path);
    info->form = c->form;
    info->state = c->state;
    info->error = c->error;
    info->captured = c->captured;
    info->written = c->written;
    info->queued = c->pending;
}

// Under the lock: the first capture with something for the writer.
static Capture* FindWork()
{
    for (Capture* c = Captures; c; c = c->next)
        if (!c->busy && (c->queue || (c->file && (c->closing || c->state == CAPTURE_FAILED))))
            return c;
    return nullptr;
}

// Writes what was handed over; a capture whose write failed writes nothing
// more, and its file is closed at once.
static void WriteBlocks(Capture* c)
{
    CaptureBlock* blocks = c->queue;
    c->queue = c->queueTail = nullptr;
    c->busy = 1;
    int failed = c->state == CAPTURE_FAILED;
    HANDLE file = c->file;
    LeaveCriticalSection(&Lock);
    DWORD error = 0;
    uint64_t written = 0, taken = 0;
    for (CaptureBlock* b = blocks; b; b = b->next) {
        taken += b->used;
        if (failed || error)
            continue;
        DWORD wrote = 0;
        if (!CaptureWriteFile(file, b->data, b->used, &wrote, nullptr))
            error = GetLastError();
        else if (wrote != b->used)
            error = ERROR_DISK_FULL;
        written += wrote;
    }
    EnterCriticalSection(&Lock);
    ReturnBlocks(blocks);
    c->written += written;
    c->pending -= taken;
    TotalPending -= taken;
    if (error && c->state != CAPTURE_FAILED) {
        c->state = CAPTURE_FAILED;
        c->error = error;
    }
    int close = file && (c->state == CAPTURE_FAILED || (c->closing && !c->queue));
    if (close) {
        c->file = nullptr;
        LeaveCriticalSection(&Lock);
        CloseHandle(file);
        EnterCriticalSection(&Lock);
    }
    c->busy = 0;
    if (Done(c) && (c->state == CAPTURE_FINISHING || !c->listed))
        Unlink(c);
}

static DWORD WINAPI RunWriter(LPVOID)
{
    for (;;) {
        WaitForSingleObject(Wake, INFINITE);
        EnterCriticalSection(&Lock);
        for (Capture* c = FindWork(); c; c = FindWork())
            WriteBlocks(c);
        SetEvent(Idle);
        LeaveCriticalSection(&Lock);
    }
}

static int StartWriter()
{
    if (Writer)
        return 1;
    if (!Wake) {
        InitializeCriticalSection(&Lock);
        Wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        Idle = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    }
    if (Wake && Idle)
        Writer = CreateThread(nullptr, 0, RunWriter, nullptr, 0, nullptr);
    return Writer != nullptr;
}

// Under the lock: the writer has work from now on.
static void WakeWriterLocked()
{
    ResetEvent(Idle);
    SetEvent(Wake);
}

static void NoteLocalTime()
{
    SYSTEMTIME t;
    CaptureLocalTime(&t);
    snprintf(Stamp, sizeof Stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u ", (unsigned)t.wYear,
             (unsigned)t.wMonth, (unsigned)t.wDay, (unsigned)t.wHour, (unsigned)t.wMinute,
             (unsigned)t.wSecond, (unsigned)t.wMilliseconds);
}

static void Detach(Capture* c)
{
    if (c->owner)
        c->owner->capture = nullptr;
    c->owner = nullptr;
    RunningCaptures--;
}

// The capture gives up: what it holds is dropped and its file closed. The
// user-interface thread's side of a failure, noticed or its own.
static void Abandon(Capture* c, DWORD error)
{
    EnterCriticalSection(&Lock);
    if (c->state != CAPTURE_FAILED) {
        c->state = CAPTURE_FAILED;
        c->error = error;
    }
    if (c->filling)
        ReturnBlocks(c->filling);
    c->filling = nullptr;
    for (CaptureBlock* b = c->queue; b; b = b->next) {
        c->pending -= b->used;
        TotalPending -= b->used;
    }
    ReturnBlocks(c->queue);
    c->queue = c->queueTail = nullptr;
    c->closing = 1;
    WakeWriterLocked();
    LeaveCriticalSection(&Lock);
    Detach(c);
}

static void HandOver(Capture* c)
{
    CaptureBlock* block = c->filling;
    if (!block || !block->used)
        return;
    c->filling = nullptr;
    block->next = nullptr;
    EnterCriticalSection(&Lock);
    if (c->queueTail)
        c->queueTail->next = block;
    else
        c->queue = block;
    c->queueTail = block;
    c->pending += block->used;
    TotalPending += block->used;
    int overflow = c->pending > CAPTURE_PENDING_LIMIT || TotalPending > CAPTURE_TOTAL_PENDING_LIMIT;
    WakeWriterLocked();
    LeaveCriticalSection(&Lock);
    if (overflow)
        Abandon(c, ERROR_NOT_ENOUGH_MEMORY);
}

static CaptureBlock* TakeBlock()
{
    EnterCriticalSection(&Lock);
    CaptureBlock* block = FreeBlocks;
    if (block) {
        FreeBlocks = block->next;
        FreeBlockCount--;
    }
    LeaveCriticalSection(&Lock);
    if (!block)
        block = (CaptureBlock*)malloc(sizeof(CaptureBlock));
    if (block) {
        block->next = nullptr;
        block->used = 0;
    }
    return block;
}

static void Put(Capture* c, const char* data, DWORD count)
{
    while (count > 0 && c->owner) {
        if (!c->filling && (c->filling = TakeBlock()) == nullptr) {
            Abandon(c, ERROR_NOT_ENOUGH_MEMORY);
            return;
        }
        CaptureBlock* block = c->filling;
        DWORD room = CAPTURE_BLOCK_BYTES - block->used;
        DWORD n = count < room ? count : room;
        memcpy(block->data + block->used, data, n);
        block->used += n;
        c->captured += n;
        data += n;
        count -= n;
        if (block->used == CAPTURE_BLOCK_BYTES)
            HandOver(c);
    }
}

static void PutLine(Capture* c, const char* text)
{
    if (c->form == CAPTURE_TIMESTAMPS)
        Put(c, Stamp, CAPTURE_STAMP_CHARS);
    Put(c, text, (DWORD)strnlen(text, SCREEN_COLUMNS + 1));
    Put(c, "\r\n", 2);
}

static int SameFileCaptured(const char* path)
{
    int same = 0;
    EnterCriticalSection(&Lock);
    for (const Capture* c = Captures; c && !same; c = c->next)
        same = c->file && lstrcmpiA(c->path, path) == 0;
    LeaveCriticalSection(&Lock);
    return same;
}

static HANDLE OpenCaptureFile(const char* path, int flags)
{
    // A removed drive or an empty one must not raise a box of the system.
    SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS);
    DWORD disposition = (flags & CAPTURE_APPEND)    ? OPEN_ALWAYS
                        : (flags & CAPTURE_REPLACE) ? CREATE_ALWAYS
                                                    : CREATE_NEW;
    // Read sharing, so that the file can be followed while it grows.
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    if ((flags & CAPTURE_APPEND) && !SetFilePointerEx(file, zero, nullptr, FILE_END)) {
        DWORD error = GetLastError();
        CloseHandle(file);
        SetLastError(error);
        return nullptr;
    }
    return file;
}

int StartCapture(PortRecord* port, const char* path, int form, int flags, DWORD* error)
{
    *error = 0;
    if (!StartWriter()) {
        *error = GetLastError();
        return CAPTURE_OPEN_FAILED;
    }
    if (port->capture)
        return CAPTURE_PORT_BUSY;
    if (SameFileCaptured(path))
        return CAPTURE_SAME_FILE;
    HANDLE file = OpenCaptureFile(path, flags);
    Capture* c = file ? (Capture*)calloc(1, sizeof(Capture)) : nullptr;
    if (!c) {
        *error = file ? ERROR_NOT_ENOUGH_MEMORY : GetLastError();
        if (file)
            CloseHandle(file);
        return CAPTURE_OPEN_FAILED;
    }
    // A failed capture of the port is replaced.
    StopCaptures(port->name, nullptr, 0);
    lstrcpynA(c->port, port->name, sizeof c->port);
    lstrcpynA(c->path, path, sizeof c->path);
    c->form = form;
    c->owner = port;
    c->file = file;
    c->state = CAPTURE_RUNNING;
    c->listed = 1;
    if (RunningCaptures++ == 0)
        LastFlush = Device.GetTickCount64();
    NoteLocalTime();
    port->capture = c;
    EnterCriticalSection(&Lock);
    c->next = Captures;
    Captures = c;
    LeaveCriticalSection(&Lock);
    return CAPTURE_STARTED;
}

// Ends a capture of an open port: the unfinished line and what is held go to
// the writer, which closes the file after them. Answers whether it ended so;
// one that has failed, even on the way, is left listed as failed.
static int EndRunning(Capture* c, CaptureInfo* info)
{
    if (c->form != CAPTURE_RAW)
        CaptureUnfinishedLine(c->owner);
    HandOver(c);
    if (!c->owner)
        return 0;
    EnterCriticalSection(&Lock);
    int running = c->state == CAPTURE_RUNNING;
    if (running)
        c->state = CAPTURE_FINISHING;
    if (info && running)
        Describe(c, info);
    // Once it is closing the writer may free it: nothing touches it after.
    Detach(c);
    c->closing = 1;
    WakeWriterLocked();
    LeaveCriticalSection(&Lock);
    return running;
}

void EndCapture(PortRecord* port)
{
    if (port->capture)
        EndRunning(port->capture, nullptr);
}

int StopCaptures(const char* name, CaptureInfo* stopped, int room)
{
    if (!Writer)
        return 0;
    int count = 0;
    for (PortRecord* p = PortListHead; p; p = p->next) {
        if (p->capture && Matches(p->name, name) &&
            EndRunning(p->capture, stopped && count < room ? &stopped[count] : nullptr))
            count++;
    }
    EnterCriticalSection(&Lock);
    for (Capture *c = Captures, *next; c; c = next) {
        next = c->next;
        if (!c->listed || c->owner || c->state != CAPTURE_FAILED || !Matches(c->port, name))
            continue;
        if (stopped && count < room)
            Describe(c, &stopped[count]);
        count++;
        c->listed = 0;
        if (Done(c))
            Unlink(c);
    }
    LeaveCriticalSection(&Lock);
    return count;
}

int ListCaptures(const char* name, CaptureInfo* records, int room)
{
    if (!Writer)
        return 0;
    int count = 0;
    EnterCriticalSection(&Lock);
    for (const Capture* c = Captures; c; c = c->next) {
        if (!c->listed || !Matches(c->port, name))
            continue;
        if (records && count < room)
            Describe(c, &records[count]);
        count++;
    }
    LeaveCriticalSection(&Lock);
    return count;
}

int CaptureCount()
{
    return ListCaptures("", nullptr, 0);
}

void TendCaptures(ULONGLONG now)
{
    if (!RunningCaptures)
        return;
    NoteLocalTime();
    int flush = now - LastFlush >= CAPTURE_FLUSH_MS;
    if (flush)
        LastFlush = now;
    for (PortRecord* p = PortListHead; p; p = p->next) {
        Capture* c = p->capture;
        if (!c)
            continue;
        EnterCriticalSection(&Lock);
        int failed = c->state == CAPTURE_FAILED;
        LeaveCriticalSection(&Lock);
        if (failed)
            Abandon(c, 0);
        else if (flush)
            HandOver(c);
    }
}

void CaptureReceived(PortRecord* port, const char* data, DWORD count)
{
    Capture* c = port->capture;
    if (c && c->form == CAPTURE_RAW)
        Put(c, data, count);
}

void CaptureLine(PortRecord* port)
{
    Capture* c = port->capture;
    if (c && c->form != CAPTURE_RAW)
        PutLine(c, port->lines[port->currentLine].text);
}

void CaptureUnfinishedLine(PortRecord* port)
{
    if (port && port->lines[port->currentLine].text[0])
        CaptureLine(port);
}

int WaitForCaptureWriter(DWORD limitMs)
{
    return !Writer || WaitForSingleObject(Idle, limitMs) == WAIT_OBJECT_0;
}

int FinishCaptures(DWORD limitMs)
{
    for (PortRecord* p = PortListHead; p; p = p->next)
        EndCapture(p);
    return WaitForCaptureWriter(limitMs);
}
