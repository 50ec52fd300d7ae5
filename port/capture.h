// Capture: every byte a port receives, or every line its screen shows, kept
// in a file. The poll only copies into blocks of memory; one writer thread,
// the only thread beside the user-interface thread, takes them to the disk,
// so no disk ever holds the poll.
#pragma once
#include <stdint.h>
#include <windows.h>

class PortRecord;

// Forms.
#define CAPTURE_RAW 0      // the bytes as received
#define CAPTURE_AS_SHOWN 1 // each finished screen line, markers and all, then CR LF
#define CAPTURE_TIMESTAMPS                                                                         \
    2 // as shown, each line after the local time of the poll that finished it
#define CAPTURE_FORMS 3

// What to do with a file that exists; with neither it is refused.
#define CAPTURE_APPEND 0x1
#define CAPTURE_REPLACE 0x2

// States.
#define CAPTURE_RUNNING 1
#define CAPTURE_FAILED 2    // a write failed: nothing more is written, until stopped
#define CAPTURE_FINISHING 3 // stopped, or its port closed; the rest is being written

// Results of StartCapture.
#define CAPTURE_STARTED 0
#define CAPTURE_SAME_FILE 1   // another capture writes that file
#define CAPTURE_PORT_BUSY 2   // the port captures already
#define CAPTURE_OPEN_FAILED 3 // the system's code is in *error

#define CAPTURE_FLUSH_MS 1000
#define CAPTURE_BLOCK_BYTES 65536
// Bytes that the disk has not taken yet which a capture, and all of them
// together, may hold; beyond them the capture that hands over more fails.
#define CAPTURE_PENDING_LIMIT (64ull * 1024 * 1024)
#define CAPTURE_TOTAL_PENDING_LIMIT (256ull * 1024 * 1024)
#define CAPTURE_STAMP_CHARS 24 // "2026-12-07 14:03:15.120 "
// How long the end of the program waits for the writer.
#define CAPTURE_FINISH_WAIT_MS 10000

struct CaptureInfo {
    char port[20];
    char path[MAX_PATH];
    int form;
    int state;
    DWORD error;       // the system's code of the write that failed
    uint64_t captured; // bytes handed to the file
    uint64_t written;  // bytes the file took
    uint64_t queued;   // handed to the writer and not written yet
};

// The local time the timestamps show, replaceable so tests can set it.
typedef void(WINAPI* LocalTimeFn)(LPSYSTEMTIME);
extern LocalTimeFn CaptureLocalTime;
// The writer's WriteFile, replaceable so tests can make a disk fail.
typedef BOOL(WINAPI* WriteFileFn)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
extern WriteFileFn CaptureWriteFile;

// `path` is absolute. Opens the file at once, so that a path that cannot be
// opened is refused now.
int StartCapture(PortRecord* port, const char* path, int form, int flags, DWORD* error);
// Stops the captures of the named port (every port when empty) and forgets
// their failed ones; describes each in `stopped` (room for CaptureCount()).
int StopCaptures(const char* name, CaptureInfo* stopped, int room);
int ListCaptures(const char* name, CaptureInfo* records, int room);
int CaptureCount();

// The poll's part: once per poll, then what each port received.
void TendCaptures(ULONGLONG now);
void CaptureReceived(PortRecord* port, const char* data, DWORD count);
// The screen ring's part: the current line is finished, or about to be
// emptied with the rest of the screen.
void CaptureLine(PortRecord* port);
void CaptureUnfinishedLine(PortRecord* port);
// The port closes: its capture ends.
void EndCapture(PortRecord* port);

// Whether the writer has written all it was handed, within the limit.
int WaitForCaptureWriter(DWORD limitMs);
// The program ends: every capture stops and is written, within the limit.
int FinishCaptures(DWORD limitMs);
