// Shared helpers of the benchmark program: clocks, windows, a read counter
// on the device seam, and the table it prints.
#pragma once
#include <windows.h>

class PortRecord;

#define LINE_RATE_921600 92160.0
#define BENCH_CLIENT_WIDTH 640
#define BENCH_CLIENT_HEIGHT 518

double WallSeconds();
double CpuSeconds();
// The main thread's time on the CPU from Linux, in ns steps; -1 when unknown.
double ThreadCpuSeconds();
// This process's Linux pid, 0 when unknown, and the user + system time of a
// Linux process (all its threads, in 10 ms steps); -1 when unknown.
int OwnLinuxPid();
double LinuxProcessCpuSeconds(int pid);

// A shown top-level window of a class with its own drawing surface, the
// size a port window has with 35 text rows.
void RegisterBenchWindowClass();
HWND CreateBenchWindow(int x, int y);
void AttachBenchWindow(PortRecord* port, int index);
// Tiled as the frame tiles 64 port windows in 1280 x 1024: 8 x 8, 160 x 120.
void AttachTiledBenchWindow(PortRecord* port, int index);
void DetachBenchWindow(PortRecord* port);
void PumpMessages();

// Message boxes are counted instead of shown; a box would stop the run.
void InstallBoxCounter();
int BoxCount();
const char* FirstBoxText();

// Wraps the current Device.ReadFile to count the bytes each open port read.
void StartReadCounting();
void StopReadCounting();
void CountReadsOf(HANDLE device, int index);
ULONGLONG BytesReadBy(int index);
ULONGLONG BytesReadTotal();

void DeleteAllPorts();

void PrintSection(const char* title);
void PrintRow(const char* label, const char* figure, const char* target, const char* verdict);

void RunAppendBenchmarks(bool quick);
void RunPatternBenchmarks(bool quick);
void RunPaintBenchmarks(bool quick);
void RunPollBenchmarks(bool quick);
void RunIdleBenchmarks(bool quick);
void RunRealTimeBenchmark(bool quick);
void RunCaptureBenchmarks(bool quick);
void RunSerialBenchmark(const char* portName, ULONGLONG bytes);

// 921,600 baud, 8 data bits, no parity, one stop bit.
void SetFullLineRate(PortRecord* port);
