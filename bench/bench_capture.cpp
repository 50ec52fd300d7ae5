// Capture of 64 ports at 921,600 baud under Send Test Data, in real time: the
// poll paced to the 10 ms tick on the wall clock, every port writing a file,
// which is read back afterwards against what each port received.
#include "app/poll.h"
#include "bench/bench.h"
#include "common/state.h"
#include "port/capture.h"
#include "port/port_record.h"
#include "port/test_pattern.h"
#include "port/transfer.h"
#include "sim/sim.h"

#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

#define CAPTURE_PORTS 64
#define TICK_MS 10
#define TICKS_PER_WRITE (CAPTURE_FLUSH_MS / TICK_MS)

struct CaptureFigures {
    const char* label;
    int form; // -1: no capture
    double seconds;
    double pollCpu;  // the user-interface thread, per wall second
    double otherCpu; // the rest of the process: the writer
    uint64_t held;   // most bytes captured and not written, at a sample
    uint64_t queued; // most of them still with the writer when the next second's are due
    double drainMs;  // from the stop until everything was written
    uint64_t received;
    uint64_t kept; // the files' bytes, without the times
    uint64_t lost; // overruns, and received bytes the files lack
    int patternErrors;
    int failed;
};

static std::string BenchFolder()
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string folder = std::string(temp) + "tarnwick-bench-capture\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

static std::string ReadWhole(const std::string& path)
{
    std::string text;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    LARGE_INTEGER size = {};
    if (file != INVALID_HANDLE_VALUE && GetFileSizeEx(file, &size)) {
        text.resize((size_t)size.QuadPart);
        DWORD got = 0;
        if (size.QuadPart && !ReadFile(file, &text[0], (DWORD)size.QuadPart, &got, nullptr))
            text.clear();
    }
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return text;
}

// The received bytes a file holds: the timestamps taken off each line.
static std::string Kept(const std::string& text, int form)
{
    if (form != CAPTURE_TIMESTAMPS)
        return text;
    std::string kept;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find("\r\n", at);
        end = end == std::string::npos ? text.size() : end + 2;
        if (end - at >= CAPTURE_STAMP_CHARS)
            kept.append(text, at + CAPTURE_STAMP_CHARS, end - at - CAPTURE_STAMP_CHARS);
        at = end;
    }
    return kept;
}

static void Sample(CaptureFigures* f)
{
    CaptureInfo records[CAPTURE_PORTS];
    int count = ListCaptures("", records, CAPTURE_PORTS);
    uint64_t held = 0, queued = 0;
    for (int i = 0; i < count; i++) {
        held += records[i].captured - records[i].written;
        queued += records[i].queued;
    }
    f->held = held > f->held ? held : f->held;
    f->queued = queued > f->queued ? queued : f->queued;
}

static bool OpenCapturingPorts(const std::string& folder, int form)
{
    for (int i = 1; i <= CAPTURE_PORTS; i++) {
        PortRecord* port = new PortRecord;
        std::string name = "COM" + std::to_string(i);
        if (OpenPort(port, name.c_str()) != 0) {
            delete port;
            return false;
        }
        SetFullLineRate(port);
        std::string path = folder + name + (form == CAPTURE_RAW ? "-rx.bin" : "-rx.txt");
        DWORD error = 0;
        if (form >= 0 && StartCapture(port, path.c_str(), form, CAPTURE_REPLACE, &error))
            return false;
    }
    return true;
}

static void Judge(CaptureFigures* f, const std::string& folder)
{
    for (PortRecord* port = PortListHead; port; port = port->next) {
        f->received += port->counters.bytesReceived;
        f->lost += Sim::LostBytes(atoi(port->name + 3));
        if (f->form < 0)
            continue;
        std::string kept =
            Kept(ReadWhole(folder + port->name + (f->form == CAPTURE_RAW ? "-rx.bin" : "-rx.txt")),
                 f->form);
        PatternCheck check;
        ResetPatternCheck(&check);
        CheckPattern(&check, kept.data(), (int)kept.size());
        f->patternErrors += (int)check.errors;
        f->kept += kept.size();
        if (kept.size() < port->counters.bytesReceived)
            f->lost += port->counters.bytesReceived - kept.size();
    }
    f->failed = f->form >= 0 && f->kept != f->received;
}

static CaptureFigures RunCapture(const char* label, int form, int seconds)
{
    CaptureFigures f = {};
    f.label = label;
    f.form = form;
    f.seconds = seconds;
    std::string folder = BenchFolder();
    Sim::Install();
    Sim::AddPorts(1, CAPTURE_PORTS, Sim::WIRE_LOOPBACK_PLUG);
    if (!OpenCapturingPorts(folder, form)) {
        f.failed = 1;
    } else {
        TestDataOn = 1;
        int ticks = seconds * 1000 / TICK_MS;
        double start = WallSeconds(), cpu = CpuSeconds(), thread = ThreadCpuSeconds();
        for (int tick = 1; tick <= ticks; tick++) {
            Sim::Advance(TICK_MS);
            PollAllPorts();
            // Just before the poll that hands over the next second's bytes.
            if (tick % TICKS_PER_WRITE == TICKS_PER_WRITE - 1 && form >= 0)
                Sample(&f);
            double ahead = tick * TICK_MS - (WallSeconds() - start) * 1000;
            if (ahead >= 1)
                Sleep((DWORD)ahead);
        }
        double wall = WallSeconds() - start;
        f.pollCpu = (ThreadCpuSeconds() - thread) / wall;
        f.otherCpu = (CpuSeconds() - cpu) / wall - f.pollCpu;
        // What is still on the lines arrives, then the files close.
        TestDataOn = 0;
        for (int tick = 0; tick < 50; tick++) {
            Sim::Advance(TICK_MS);
            PollAllPorts();
        }
        double stop = WallSeconds();
        StopCaptures("", nullptr, 0);
        WaitForCaptureWriter(60000);
        f.drainMs = (WallSeconds() - stop) * 1000;
        Judge(&f, folder);
    }
    DeleteAllPorts();
    Sim::Uninstall();
    for (int i = 1; i <= CAPTURE_PORTS; i++)
        for (const char* end : {"-rx.bin", "-rx.txt"})
            DeleteFileA((folder + "COM" + std::to_string(i) + end).c_str());
    RemoveDirectoryA(folder.c_str());
    return f;
}

static void PrintCaptureRow(const CaptureFigures& f)
{
    printf(
        "  %-11s %8.2f %8.2f  %6.2f %%  %6.2f %%  %7.0f  %7.0f  %7.0f  %9llu %6d  %s\n", f.label,
        f.received / f.seconds / 1e6, f.kept / f.seconds / 1e6, f.pollCpu * 100, f.otherCpu * 100,
        f.held / 1024.0, f.queued / 1024.0, f.drainMs, (unsigned long long)f.lost, f.patternErrors,
        f.form < 0 ? "" : (f.failed || f.lost || f.patternErrors || f.queued ? "MISSED" : "met"));
    fflush(stdout);
}

void RunCaptureBenchmarks(bool quick)
{
    int seconds = quick ? 2 : 10;
    char title[200];
    snprintf(title, sizeof title,
             "Capture, 64 ports at 921,600 baud, loopback plugs, Send Test Data, no windows, %d "
             "s in real time (the poll paced to the 10 ms tick), a file per port",
             seconds);
    PrintSection(title);
    printf("  kept = the files' bytes without the times, read back and checked against the\n"
           "  pattern; held = bytes captured and not yet written (up to a second of them wait\n"
           "  for the next write), queued = of them still with the writer, the most of each\n"
           "  second, both sampled just before the next second's bytes are handed over; poll =\n"
           "  its thread's CPU, writer = the rest of the process; stop = from the stop until all\n"
           "  is written; lost = overruns and received bytes the files lack.\n"
           "  Target: 0 lost, 0 pattern errors, nothing queued a second later.\n");
    printf("  %-11s %8s %8s  %8s  %8s  %7s  %7s  %7s  %9s %6s\n", "form", "rx MB/s", "kept", "poll",
           "writer", "held KB", "queued", "stop ms", "lost", "errors");
    const struct {
        const char* label;
        int form;
    } rows[] = {{"no capture", -1},
                {"raw", CAPTURE_RAW},
                {"as-shown", CAPTURE_AS_SHOWN},
                {"timestamps", CAPTURE_TIMESTAMPS}};
    for (const auto& row : rows)
        PrintCaptureRow(RunCapture(row.label, row.form, seconds));
}
