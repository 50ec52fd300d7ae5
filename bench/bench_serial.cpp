#include "app/poll.h"
#include "bench/bench.h"
#include "port/device.h"
#include "port/port_record.h"
#include "port/transfer.h"

#include <stdio.h>
#include <string.h>

#define SERIAL_PHASE_LIMIT_S 90.0
#define SERIAL_END_MARK "TARNWICK-END"

struct SerialFigures {
    double wall;
    double cpu;
    double threadCpu;
    ULONGLONG bytes;
    int polls;
    ULONGLONG largestPoll;
    bool complete;
};

static void PrintSerialRow(const char* label, const SerialFigures& f, ULONGLONG wanted)
{
    char figure[160];
    if (!f.complete)
        snprintf(figure, sizeof figure, "INCOMPLETE: %llu of %llu bytes in %.2f s",
                 (unsigned long long)f.bytes, (unsigned long long)wanted, f.wall);
    else
        snprintf(figure, sizeof figure,
                 "%6.2f s  %5.2f MB/s  CPU %5.1f %% (thread %5.1f %%)  %d polls, <= %llu B/poll",
                 f.wall, f.bytes / f.wall / 1e6, 100.0 * f.cpu / f.wall,
                 100.0 * f.threadCpu / f.wall, f.polls, (unsigned long long)f.largestPoll);
    printf("  %-44s %s\n", label, figure);
    fflush(stdout);
}

// Polls back to back until `until` bytes were read in all.
static SerialFigures ReadBackToBack(ULONGLONG until)
{
    SerialFigures f = {};
    ULONGLONG before = BytesReadTotal();
    double wallStart = WallSeconds();
    double cpuStart = CpuSeconds();
    double threadStart = ThreadCpuSeconds();
    while (BytesReadTotal() < until && f.wall < SERIAL_PHASE_LIMIT_S) {
        ULONGLONG previous = BytesReadTotal();
        PollAllPorts();
        ULONGLONG got = BytesReadTotal() - previous;
        if (got > f.largestPoll)
            f.largestPoll = got;
        f.polls++;
        f.wall = WallSeconds() - wallStart;
    }
    f.cpu = CpuSeconds() - cpuStart;
    f.threadCpu = ThreadCpuSeconds() - threadStart;
    f.bytes = BytesReadTotal() - before;
    f.complete = BytesReadTotal() >= until;
    return f;
}

// What a reader that paints nothing does at each tick: take what is queued.
static void ReadQueued(PortRecord* port)
{
    DWORD errors = 0;
    COMSTAT status = {};
    if (!Device.ClearCommError(port->device, &errors, &status))
        return;
    for (DWORD left = status.cbInQue; left > 0;) {
        DWORD wanted = left < RECEIVE_BUFFER_SIZE ? left : RECEIVE_BUFFER_SIZE;
        DWORD count = 0;
        if (ReadPort(port, port->receiveBuffer, wanted, &count) != 0)
            return;
        left -= wanted;
    }
}

// The program's own cadence: a period-0 timer, one poll per timer message;
// with `bare`, the poll only reads.
static SerialFigures ReadOnTimer(PortRecord* port, ULONGLONG until, bool bare)
{
    SerialFigures f = {};
    ULONGLONG before = BytesReadTotal();
    UINT_PTR timer = SetTimer(nullptr, 0, 0, nullptr);
    double wallStart = WallSeconds();
    double cpuStart = CpuSeconds();
    double threadStart = ThreadCpuSeconds();
    MSG message;
    while (BytesReadTotal() < until && f.wall < SERIAL_PHASE_LIMIT_S &&
           GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == nullptr) {
            ULONGLONG previous = BytesReadTotal();
            if (bare)
                ReadQueued(port);
            else
                PollAllPorts();
            ULONGLONG got = BytesReadTotal() - previous;
            if (got > f.largestPoll)
                f.largestPoll = got;
            f.polls++;
        } else {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        f.wall = WallSeconds() - wallStart;
    }
    f.cpu = CpuSeconds() - cpuStart;
    f.threadCpu = ThreadCpuSeconds() - threadStart;
    KillTimer(nullptr, timer);
    f.bytes = BytesReadTotal() - before;
    f.complete = BytesReadTotal() >= until;
    return f;
}

void RunSerialBenchmark(const char* portName, ULONGLONG bytes)
{
    char title[160];
    snprintf(title, sizeof title,
             "Wine's real serial path: %s on a pseudo-terminal, the peer sends %llu bytes twice",
             portName, (unsigned long long)bytes);
    PrintSection(title);
    Device = SystemDevice;
    StartReadCounting();
    PortRecord* port = new PortRecord;
    int boxesBefore = BoxCount();
    if (OpenPort(port, portName) != 0) {
        delete port;
        StopReadCounting();
        PrintRow("opening the port failed", FirstBoxText(), "", "");
        return;
    }
    Device.GetCommState(port->device, &port->dcb);
    port->dcb.BaudRate = 921600;
    port->dcb.ByteSize = 8;
    port->dcb.Parity = NOPARITY;
    port->dcb.StopBits = ONESTOPBIT;
    port->dcb.fOutxCtsFlow = FALSE;
    port->dcb.fOutxDsrFlow = FALSE;
    port->dcb.fOutX = FALSE;
    port->dcb.fInX = FALSE;
    if (!Device.SetCommState(port->device, &port->dcb))
        printf("  (SetCommState failed with %lu; the pty keeps its raw settings)\n",
               GetLastError());
    CountReadsOf(port->device, 0);

    SerialFigures first = ReadBackToBack(bytes);
    PrintSerialRow("polls back to back, no window", first, bytes);

    // The second half in two: the same cadence with and without the program's work.
    ULONGLONG half = bytes / 2;
    SerialFigures bare = ReadOnTimer(port, bytes + half, true);
    PrintSerialRow("period-0 timer, bare reader, no window", bare, half);
    AttachBenchWindow(port, 0);
    SerialFigures second = ReadOnTimer(port, 2 * bytes, false);
    PrintSerialRow("period-0 timer, window painted", second, bytes - half);
    if (bare.complete && second.complete && bare.cpu > 0) {
        char figure[96];
        snprintf(figure, sizeof figure, "%.1f times (thread %.1f)",
                 (second.cpu / second.wall) / (bare.cpu / bare.wall),
                 (second.threadCpu / second.wall) / (bare.threadCpu / bare.wall));
        PrintRow("painted / bare reader, CPU per second", figure, "<= 2 times",
                 second.cpu / second.wall <= 2 * bare.cpu / bare.wall ? "met" : "MISSED");
    }

    const char* last = port->lines[(port->currentLine + SCREEN_LINES - 1) % SCREEN_LINES].text;
    size_t length = strlen(last);
    size_t markLength = strlen(SERIAL_END_MARK);
    bool endShown =
        length >= markLength && strcmp(last + length - markLength, SERIAL_END_MARK) == 0;
    printf("  screen shows the peer's last line \"%s\": %s; message boxes: %d%s%s\n",
           SERIAL_END_MARK, endShown ? "yes" : "NO", BoxCount() - boxesBefore,
           BoxCount() > boxesBefore ? ", first: " : "",
           BoxCount() > boxesBefore ? FirstBoxText() : "");
    fflush(stdout);
    StopReadCounting();
    DeleteAllPorts();
}
