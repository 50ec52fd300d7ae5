#include "app/poll.h"
#include "bench/bench.h"
#include "common/state.h"
#include "port/device.h"
#include "port/port_record.h"
#include "port/transfer.h"
#include "sim/sim.h"

#include <stdio.h>
#include <vector>

#define TICK_MS 10

enum Feed {
    FEED_TEST_PATTERN, // loopback plugs, Send Test Data on
    FEED_LINE_RATE,    // the far end sends 92,160 bytes a second into every port
};

struct PollFigures {
    int ports;
    bool windows;
    bool tiled;
    Feed feed;
    double seconds;
    double meanRate;
    double minRate;
    ULONGLONG lost;
    double cpu;
    double threadCpu;
    double wall;
    int boxes;
    bool opened;
};

static bool OpenBenchPorts(int count, bool windows, bool tiled = false)
{
    for (int i = 0; i < count; i++) {
        PortRecord* port = new PortRecord;
        char name[16];
        snprintf(name, sizeof name, "COM%d", i + 1);
        if (OpenPort(port, name) != 0) {
            delete port;
            return false;
        }
        SetFullLineRate(port);
        CountReadsOf(port->device, i);
        if (windows && tiled)
            AttachTiledBenchWindow(port, i);
        else if (windows)
            AttachBenchWindow(port, i);
    }
    return true;
}

static PollFigures RunPollCycle(int ports, bool windows, Feed feed, int seconds, bool tiled = false)
{
    PollFigures figures = {};
    figures.ports = ports;
    figures.windows = windows;
    figures.tiled = tiled;
    figures.feed = feed;
    figures.seconds = seconds;
    Sim::Install();
    Sim::AddPorts(1, ports, feed == FEED_TEST_PATTERN ? Sim::WIRE_LOOPBACK_PLUG : Sim::WIRE_NONE);
    StartReadCounting();
    figures.opened = OpenBenchPorts(ports, windows, tiled);
    TestDataOn = feed == FEED_TEST_PATTERN;
    int boxesBefore = BoxCount();
    static char feedBytes[1024];
    for (size_t i = 0; i < sizeof feedBytes; i++)
        feedBytes[i] = (char)(i % 64 == 62 ? '\r' : i % 64 == 63 ? '\n' : 'a' + i % 26);

    int ticks = seconds * 1000 / TICK_MS;
    double wallStart = WallSeconds();
    double cpuStart = CpuSeconds();
    double threadStart = ThreadCpuSeconds();
    for (int tick = 1; figures.opened && tick <= ticks; tick++) {
        Sim::Advance(TICK_MS);
        if (feed == FEED_LINE_RATE) {
            // 921.6 bytes a tick, whole bytes: 921 or 922.
            DWORD due = (DWORD)(tick * 9216LL / 10 - (tick - 1) * 9216LL / 10);
            for (int p = 1; p <= ports; p++)
                Sim::PeerSend(p, feedBytes, due);
        }
        PollAllPorts();
        if (windows)
            PumpMessages();
    }
    figures.cpu = CpuSeconds() - cpuStart;
    figures.threadCpu = threadStart < 0 ? -1 : ThreadCpuSeconds() - threadStart;
    figures.wall = WallSeconds() - wallStart;
    figures.boxes = BoxCount() - boxesBefore;

    double total = 0;
    figures.minRate = 1e30;
    for (int i = 0; i < ports; i++) {
        double rate = (double)BytesReadBy(i) / seconds;
        total += rate;
        if (rate < figures.minRate)
            figures.minRate = rate;
        figures.lost += Sim::LostBytes(i + 1);
    }
    figures.meanRate = total / ports;
    TestDataOn = 0;
    StopReadCounting();
    DeleteAllPorts();
    Sim::Uninstall();
    return figures;
}

static void PrintPollRow(const PollFigures& f)
{
    if (!f.opened) {
        printf("  %5d  %-3s  opening the simulated ports failed (%s)\n", f.ports,
               f.windows ? "yes" : "no", FirstBoxText());
        return;
    }
    double cpuPerSecond = f.cpu / f.seconds;
    bool target = f.ports == 64;
    bool met = f.lost == 0 && cpuPerSecond < 0.25;
    printf("  %5d  %-4s  %9.0f %9.0f  %5.1f %%  %9llu  %8.1f  %6.1f %%  %8.1f  %8.1f  %5d  %s\n",
           f.ports,
           f.tiled     ? "tile"
           : f.windows ? "yes"
                       : "no",
           f.meanRate, f.minRate, 100.0 * f.meanRate / LINE_RATE_921600, (unsigned long long)f.lost,
           cpuPerSecond * 1000, cpuPerSecond * 100, f.threadCpu / f.seconds * 1000,
           f.wall / f.seconds * 1000, f.boxes, target ? (met ? "met" : "MISSED") : "");
    fflush(stdout);
}

static void PrintPollHeader()
{
    printf("  %5s  %-4s  %9s %9s  %7s  %9s  %8s  %8s  %8s  %8s  %5s  %s\n", "ports", "win",
           "rx B/s", "min B/s", "of line", "lost", "CPU ms", "of core", "thread", "wall ms",
           "boxes", "target: 0 lost, < 25 %");
    printf("  %5s  %-4s  %9s %9s  %7s  %9s  %8s  %8s  %8s  %8s  %5s\n", "", "", "per port",
           "per port", "rate", "bytes", "/ sim s", "", "ms/sim s", "/ sim s", "");
}

void RunPollBenchmarks(bool quick)
{
    int seconds = quick ? 1 : 10;
    const int counts[] = {1, 8, 64};
    char title[200];
    snprintf(title, sizeof title,
             "Poll cycle, simulated adapter, 921,600 baud 8N1 (line rate 92,160 B/s), %d "
             "simulated s, Advance(10) + PollAllPorts per tick",
             seconds);
    PrintSection(title);
    printf("  Loopback plugs, Send Test Data on (a port is refilled only when its output queue\n"
           "  is empty at a tick: 1,155 bytes per 20 ms = 57,750 B/s, 62.7 %% of the line rate)\n");
    printf("  win: yes = 640 x 518 windows cascaded (35 text rows), tile = 160 x 120 windows\n"
           "  tiled 8 x 8 as in a 1280 x 1024 frame (7 text rows)\n");
    PrintPollHeader();
    for (bool windows : {false, true})
        for (int count : counts)
            PrintPollRow(RunPollCycle(count, windows, FEED_TEST_PATTERN, seconds));
    PrintPollRow(RunPollCycle(64, true, FEED_TEST_PATTERN, seconds, true));
    // Beyond the required rows, so kept short: the figures are per second.
    int lineRateSeconds = quick ? 1 : 3;
    printf("  The far end sends 92,160 B/s into every port (text, CR LF every 64 bytes), %d "
           "simulated s\n",
           lineRateSeconds);
    PrintPollHeader();
    for (int count : counts)
        PrintPollRow(RunPollCycle(count, false, FEED_LINE_RATE, lineRateSeconds));
    PrintPollRow(RunPollCycle(64, true, FEED_LINE_RATE, lineRateSeconds));
    PrintPollRow(RunPollCycle(64, true, FEED_LINE_RATE, lineRateSeconds, true));
}

static void PrintIdleRow(const char* label, double cpuPerSecond, double threadPerSecond,
                         const char* detail, bool target)
{
    char figure[96];
    snprintf(figure, sizeof figure, "%6.2f ms/s = %5.2f %% (thread %.2f ms/s)%s",
             cpuPerSecond * 1000, cpuPerSecond * 100, threadPerSecond * 1000, detail);
    PrintRow(label, figure, target ? "< 2 % of core" : "",
             target ? (cpuPerSecond < 0.02 ? "met" : "MISSED") : "");
}

// Back-to-back polls: CPU per 100 polls is the cost of one second.
static void MeasureIdleBackToBack(bool windows, int polls)
{
    Sim::Install();
    Sim::AddPorts(1, 64, Sim::WIRE_LOOPBACK_PLUG);
    StartReadCounting();
    if (!OpenBenchPorts(64, windows)) {
        PrintRow("idle: opening the simulated ports failed", FirstBoxText(), "", "");
    } else {
        for (int i = 0; i < 3; i++) {
            Sim::Advance(TICK_MS);
            PollAllPorts();
            PumpMessages();
        }
        double cpuStart = CpuSeconds();
        double threadStart = ThreadCpuSeconds();
        for (int i = 0; i < polls; i++) {
            Sim::Advance(TICK_MS);
            PollAllPorts();
            if (windows)
                PumpMessages();
        }
        double cpuPerSecond = (CpuSeconds() - cpuStart) / (polls / 100.0);
        double threadPerSecond = (ThreadCpuSeconds() - threadStart) / (polls / 100.0);
        PrintIdleRow(windows ? "64 ports, windows, polls back to back"
                             : "64 ports, no windows, polls back to back",
                     cpuPerSecond, threadPerSecond, "", true);
    }
    StopReadCounting();
    DeleteAllPorts();
    Sim::Uninstall();
}

// The real program's way: a period-0 timer and a message loop. With no
// ports it measures the loop alone.
static void MeasureIdleTimer(double seconds, int ports)
{
    Sim::Install();
    Sim::AddPorts(1, 64, Sim::WIRE_LOOPBACK_PLUG);
    StartReadCounting();
    if (!OpenBenchPorts(ports, true)) {
        PrintRow("idle: opening the simulated ports failed", FirstBoxText(), "", "");
    } else {
        PollAllPorts();
        PumpMessages();
        UINT_PTR timer = SetTimer(nullptr, 0, 0, nullptr);
        int ticks = 0;
        double wallStart = WallSeconds();
        double cpuStart = CpuSeconds();
        double threadStart = ThreadCpuSeconds();
        double wall = 0;
        MSG message;
        while (wall < seconds && GetMessageA(&message, nullptr, 0, 0) > 0) {
            if (message.message == WM_TIMER && message.hwnd == nullptr) {
                Sim::Advance(TICK_MS);
                PollAllPorts();
                ticks++;
            } else {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
            wall = WallSeconds() - wallStart;
        }
        double cpuPerSecond = (CpuSeconds() - cpuStart) / wall;
        double threadPerSecond = (ThreadCpuSeconds() - threadStart) / wall;
        KillTimer(nullptr, timer);
        char detail[64];
        snprintf(detail, sizeof detail, " %.0f polls/s", ticks / wall);
        PrintIdleRow(ports ? "64 ports, windows, period-0 timer and message loop"
                           : "no ports: period-0 timer and message loop alone",
                     cpuPerSecond, threadPerSecond, detail, ports > 0);
    }
    StopReadCounting();
    DeleteAllPorts();
    Sim::Uninstall();
}

void RunIdleBenchmarks(bool quick)
{
    PrintSection("Idle cost: 64 open ports on the simulated adapter, no traffic, CPU per second "
                 "at 100 polls/s");
    MeasureIdleBackToBack(false, quick ? 200 : 1000);
    MeasureIdleBackToBack(true, quick ? 200 : 1000);
    MeasureIdleTimer(quick ? 1.0 : 5.0, 64);
    MeasureIdleTimer(quick ? 1.0 : 5.0, 0);
}
