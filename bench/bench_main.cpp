// tarnwick-bench: throughput and CPU cost of the text append, the painting
// and the poll cycle, on the simulated adapter and on Wine's serial path.
//   tarnwick-bench.exe [--quick]
//   [--only append|pattern|paint|poll|idle|realtime|capture|serial]
//   [--pace MS] [--serial COMn BYTES]
// --pace paints text rows at most once per MS ms instead of PAINT_PERIOD_MS.
#include "bench/bench.h"
#include "view/paint.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static bool Selected(const char* only, const char* section)
{
    return !only[0] || strcmp(only, section) == 0;
}

int main(int argc, char** argv)
{
    bool quick = false;
    const char* only = "";
    const char* serialPort = nullptr;
    unsigned long long serialBytes = 0;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--quick") == 0) {
            quick = true;
        } else if (strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            only = argv[++i];
        } else if (strcmp(argv[i], "--pace") == 0 && i + 1 < argc) {
            PaintPeriodMs = (DWORD)strtoul(argv[++i], nullptr, 10);
        } else if (strcmp(argv[i], "--serial") == 0 && i + 2 < argc) {
            serialPort = argv[i + 1];
            serialBytes = strtoull(argv[i + 2], nullptr, 10);
            i += 2;
        } else {
            fprintf(stderr,
                    "usage: tarnwick-bench.exe [--quick] [--only SECTION] [--pace MS] [--serial "
                    "COMn BYTES]\n");
            return 2;
        }
    }
    double start = WallSeconds();
    InstallBoxCounter();
    LayoutLampRows();
    RegisterBenchWindowClass();
    printf("painting paced at %lu ms\n", (unsigned long)PaintPeriodMs);
    printf(
        "Tarnwick benchmark%s\n"
        "MB = 10^6 bytes. CPU = GetProcessTimes user + kernel of this process (Wine counts it\n"
        "in 10 ms steps); thread = the main thread's CPU time from Linux schedstat (ns). Neither\n"
        "includes the X server, wineserver or Wine's desktop process. wall = elapsed time.\n",
        quick ? ", quick run" : "");
    if (Selected(only, "append"))
        RunAppendBenchmarks(quick);
    if (Selected(only, "pattern"))
        RunPatternBenchmarks(quick);
    if (Selected(only, "paint"))
        RunPaintBenchmarks(quick);
    if (Selected(only, "poll"))
        RunPollBenchmarks(quick);
    if (Selected(only, "idle"))
        RunIdleBenchmarks(quick);
    if (Selected(only, "realtime"))
        RunRealTimeBenchmark(quick);
    if (Selected(only, "capture"))
        RunCaptureBenchmarks(quick);
    if (serialPort && Selected(only, "serial"))
        RunSerialBenchmark(serialPort, serialBytes);
    printf("\nmessage boxes in the whole run: %d\nbenchmark took %.1f s\n", BoxCount(),
           WallSeconds() - start);
    return 0;
}
