// The whole program in real time, as a user runs the demo: the frame, 64
// port windows on the simulated adapter at 921,600 baud with loopback plugs,
// Send Test Data on, the frame's own timer and message loop. CPU is counted
// for this process, the X server and the wineserver together, from Linux.
#include "app/frame.h"
#include "bench/bench.h"
#include "common/resource.h"
#include "common/state.h"
#include "port/device.h"
#include "port/port_record.h"
#include "port/transfer.h"
#include "sim/sim.h"

#include <stdio.h>
#include <stdlib.h>

#define DEMO_PORTS 64

struct CpuSample {
    double own, xServer, wineServer;
};

static int PidFromEnvironment(const char* name)
{
    char text[32];
    DWORD length = GetEnvironmentVariableA(name, text, sizeof text);
    return length > 0 && length < sizeof text ? atoi(text) : 0;
}

static CpuSample SampleCpu()
{
    CpuSample sample;
    sample.own = LinuxProcessCpuSeconds(OwnLinuxPid());
    sample.xServer = LinuxProcessCpuSeconds(PidFromEnvironment("BENCH_XSERVER_PID"));
    sample.wineServer = LinuxProcessCpuSeconds(PidFromEnvironment("BENCH_WINESERVER_PID"));
    return sample;
}

// As the Open Ports dialog does it: each window at the MDI default place.
static bool OpenDemoPorts()
{
    for (int number = 1; number <= DEMO_PORTS; number++) {
        PortRecord* port = new PortRecord;
        char name[16];
        snprintf(name, sizeof name, "COM%d", number);
        CurrentPort = port;
        if (OpenPort(port, name) != 0) {
            CurrentPort = nullptr;
            delete port;
            return false;
        }
        CountReadsOf(port->device, number - 1);
        MDICREATESTRUCTA create = {};
        create.szClass = VANT_PORT_CLASS;
        create.szTitle = "ComX";
        create.hOwner = AppInstance;
        create.x = create.y = create.cx = create.cy = CW_USEDEFAULT;
        SendMessageA(MdiClient, WM_MDICREATE, 0, (LPARAM)&create);
        SetFullLineRate(port);
    }
    return true;
}

static void RunMessagesFor(double seconds)
{
    double end = WallSeconds() + seconds;
    MSG message;
    while (WallSeconds() < end && GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

static DWORD TotalLost()
{
    DWORD lost = 0;
    for (int number = 1; number <= DEMO_PORTS; number++)
        lost += Sim::LostBytes(number);
    return lost;
}

static void MeasureArrangement(const char* label, double seconds)
{
    RunMessagesFor(1.0); // the arrangement settles and every queue is busy
    ULONGLONG readBefore = BytesReadTotal();
    DWORD lostBefore = TotalLost();
    CpuSample before = SampleCpu();
    double wallStart = WallSeconds();
    RunMessagesFor(seconds);
    double wall = WallSeconds() - wallStart;
    CpuSample after = SampleCpu();
    double own = (after.own - before.own) / wall;
    double x = before.xServer < 0 ? 0 : (after.xServer - before.xServer) / wall;
    double server = before.wineServer < 0 ? 0 : (after.wineServer - before.wineServer) / wall;
    double total = own + x + server;
    DWORD lost = TotalLost() - lostBefore;
    printf("  %-22s %9.0f  %9lu  %6.1f %%  %6.1f %%%s  %6.1f %%%s  %6.1f %%  %s\n", label,
           (BytesReadTotal() - readBefore) / wall / DEMO_PORTS, (unsigned long)lost, own * 100,
           x * 100, before.xServer < 0 ? "?" : " ", server * 100, before.wineServer < 0 ? "?" : " ",
           total * 100, before.own >= 0 && lost == 0 && total < 0.10 ? "met" : "MISSED");
    fflush(stdout);
}

void RunRealTimeBenchmark(bool quick)
{
    double seconds = quick ? 3 : 20;
    char title[200];
    snprintf(title, sizeof title,
             "Real time: the frame with %d demo port windows, 921,600 baud, loopback plugs, Send "
             "Test Data on, %.0f s each arrangement",
             DEMO_PORTS, seconds);
    PrintSection(title);
    printf("  CPU per wall second from Linux (/proc/PID/stat): this program, the X server and\n"
           "  the wineserver (? = not found: BENCH_XSERVER_PID, BENCH_WINESERVER_PID)\n");
    printf("  %-22s %9s  %9s  %8s  %8s  %8s  %8s  %s\n", "arrangement", "rx B/s", "lost", "program",
           "X server", "wineserv", "all", "target: 0 lost, all < 10 %");
    Sim::Install();
    Sim::AddPorts(1, DEMO_PORTS, Sim::WIRE_LOOPBACK_PLUG);
    Sim::SetRealTime(true);
    StartReadCounting();
    StartApplication(GetModuleHandleA(nullptr), SW_SHOWNORMAL);
    if (!OpenDemoPorts()) {
        printf("  opening the demo ports failed (%s)\n", FirstBoxText());
    } else {
        SendMessageA(FrameWindow, WM_COMMAND, CMD_SEND_TEST_DATA, 0);
        MeasureArrangement("default (cascaded)", seconds);
        SendMessageA(FrameWindow, WM_COMMAND, CMD_TILE, 0);
        MeasureArrangement("tiled", seconds);
        SendMessageA(FrameWindow, WM_COMMAND, CMD_SEND_TEST_DATA, 0);
    }
    SendMessageA(FrameWindow, WM_CLOSE, 0, 0);
    PumpMessages();
    StopReadCounting();
    Sim::Uninstall();
}
