#include "bench/bench.h"
#include "common/message_box.h"
#include "port/device.h"
#include "port/line_control.h"
#include "port/port_record.h"
#include "view/paint.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static LARGE_INTEGER CounterFrequency;
static int BenchBoxes;
static char FirstBox[160];
static DeviceTable InnerDevice;
static HANDLE CountedDevices[256];
static ULONGLONG CountedBytes[256];
static int CountedDeviceCount;

double WallSeconds()
{
    if (!CounterFrequency.QuadPart)
        QueryPerformanceFrequency(&CounterFrequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)now.QuadPart / (double)CounterFrequency.QuadPart;
}

static double FileTimeSeconds(const FILETIME& time)
{
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return (double)value.QuadPart / 1e7;
}

double CpuSeconds()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return FileTimeSeconds(kernel) + FileTimeSeconds(user);
}

// Under Wine the process times move in 10 ms steps. Linux keeps each
// thread's time on the CPU in nanoseconds; Wine opens files in its server
// process, so /proc/self is not this process: it is the one of this name in
// this Wine prefix (another helper's benchmark may run in another prefix).
static char SchedstatPath[64];
static int SchedstatSearched;
static int OwnPid;
static char ProcessEnvironment[65536];

static bool ReadSmallFile(const char* path, char* text, DWORD size)
{
    HANDLE file =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    // Files of /proc may come a page at a time.
    DWORD total = 0, got = 0;
    while (total < size - 1 && ReadFile(file, text + total, size - 1 - total, &got, nullptr) &&
           got > 0)
        total += got;
    CloseHandle(file);
    text[total] = 0;
    return total > 0;
}

static bool InThisPrefix(const char* environmentPath)
{
    char wanted[MAX_PATH + 16] = "WINEPREFIX=";
    DWORD length = GetEnvironmentVariableA("WINEPREFIX", wanted + 11, MAX_PATH);
    if (length == 0 || length >= MAX_PATH ||
        !ReadSmallFile(environmentPath, ProcessEnvironment, sizeof ProcessEnvironment))
        return false;
    // The file is a list of NUL-terminated entries; ReadSmallFile stops at 64 KB.
    for (const char* entry = ProcessEnvironment; *entry; entry += strlen(entry) + 1)
        if (strcmp(entry, wanted) == 0)
            return true;
    return false;
}

static void FindSchedstat()
{
    SchedstatSearched = 1;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("Z:\\proc\\*", &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (found.cFileName[0] < '0' || found.cFileName[0] > '9')
            continue;
        char path[64], name[64];
        snprintf(path, sizeof path, "Z:\\proc\\%s\\comm", found.cFileName);
        if (!ReadSmallFile(path, name, sizeof name) || strncmp(name, "tarnwick-bench", 14) != 0)
            continue;
        snprintf(path, sizeof path, "Z:\\proc\\%s\\environ", found.cFileName);
        if (InThisPrefix(path)) {
            snprintf(SchedstatPath, sizeof SchedstatPath, "Z:\\proc\\%s\\schedstat",
                     found.cFileName);
            OwnPid = atoi(found.cFileName);
            break;
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

double ThreadCpuSeconds()
{
    if (!SchedstatSearched)
        FindSchedstat();
    char text[128];
    if (!SchedstatPath[0] || !ReadSmallFile(SchedstatPath, text, sizeof text))
        return -1;
    return (double)_strtoui64(text, nullptr, 10) / 1e9;
}

int OwnLinuxPid()
{
    if (!SchedstatSearched)
        FindSchedstat();
    return OwnPid;
}

double LinuxProcessCpuSeconds(int pid)
{
    char path[64], text[1024];
    snprintf(path, sizeof path, "Z:\\proc\\%d\\stat", pid);
    if (pid <= 0 || !ReadSmallFile(path, text, sizeof text))
        return -1;
    // Fields after the command name, which may hold spaces: state is the
    // first, user and system time (in 1/100 s) the 12th and 13th.
    const char* field = strrchr(text, ')');
    unsigned long long ticks[2] = {0, 0};
    for (int i = 0; field && i < 13; i++) {
        field = strchr(field + 1, ' ');
        if (field && i >= 11)
            ticks[i - 11] = _strtoui64(field + 1, nullptr, 10);
    }
    return field ? (ticks[0] + ticks[1]) / 100.0 : -1;
}

static LRESULT CALLBACK BenchWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void RegisterBenchWindowClass()
{
    WNDCLASSA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.style = CS_OWNDC;
    windowClass.lpfnWndProc = BenchWndProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    windowClass.lpszClassName = "TarnwickBenchPort";
    RegisterClassA(&windowClass);
}

static HWND CreateSizedBenchWindow(int x, int y, int width, int height)
{
    HWND window =
        CreateWindowExA(0, "TarnwickBenchPort", "bench", WS_POPUP | WS_VISIBLE, x, y, width, height,
                        nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    PumpMessages();
    return window;
}

HWND CreateBenchWindow(int x, int y)
{
    return CreateSizedBenchWindow(x, y, BENCH_CLIENT_WIDTH, BENCH_CLIENT_HEIGHT);
}

static void TakeClientSize(PortRecord* port)
{
    RECT client;
    GetClientRect(port->window, &client);
    port->clientWidth = client.right;
    port->clientHeight = client.bottom;
}

void AttachTiledBenchWindow(PortRecord* port, int index)
{
    port->window = CreateSizedBenchWindow((index % 8) * 160, (index / 8) * 120, 160, 120);
    TakeClientSize(port);
}

// Cascaded like MDI children: the newest fully visible, the others partly covered.
void AttachBenchWindow(PortRecord* port, int index)
{
    port->window = CreateBenchWindow((index % 16) * 40, (index / 16) * 120 + (index % 16) * 8);
    RECT client;
    GetClientRect(port->window, &client);
    port->clientWidth = client.right;
    port->clientHeight = client.bottom;
}

void DetachBenchWindow(PortRecord* port)
{
    if (port->window) {
        ForgetSeenRows(port->window);
        DestroyWindow(port->window);
    }
    port->window = nullptr;
}

void PumpMessages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

static int CountBox(HWND, const char* text, const char*, UINT)
{
    if (BenchBoxes++ == 0 && text)
        lstrcpynA(FirstBox, text, sizeof FirstBox);
    return IDOK;
}

void InstallBoxCounter()
{
    MessageBoxHook = CountBox;
}

int BoxCount()
{
    return BenchBoxes;
}

const char* FirstBoxText()
{
    return FirstBox;
}

static void AddRead(HANDLE device, ULONGLONG bytes)
{
    for (int i = 0; i < CountedDeviceCount; i++) {
        if (CountedDevices[i] == device) {
            CountedBytes[i] += bytes;
            return;
        }
    }
}

static BOOL WINAPI CountingReadFile(HANDLE device, LPVOID buffer, DWORD wanted, LPDWORD got,
                                    LPOVERLAPPED block)
{
    BOOL done = InnerDevice.ReadFile(device, buffer, wanted, got, block);
    if (done)
        AddRead(device, got ? *got : wanted);
    else if (GetLastError() == ERROR_IO_PENDING)
        AddRead(device, wanted);
    return done;
}

void StartReadCounting()
{
    InnerDevice = Device;
    Device.ReadFile = CountingReadFile;
    CountedDeviceCount = 0;
}

void StopReadCounting()
{
    Device.ReadFile = InnerDevice.ReadFile;
    CountedDeviceCount = 0;
}

void CountReadsOf(HANDLE device, int index)
{
    if (index < 0 || index >= 256)
        return;
    CountedDevices[index] = device;
    CountedBytes[index] = 0;
    if (index >= CountedDeviceCount)
        CountedDeviceCount = index + 1;
}

ULONGLONG BytesReadBy(int index)
{
    return CountedBytes[index];
}

ULONGLONG BytesReadTotal()
{
    ULONGLONG total = 0;
    for (int i = 0; i < CountedDeviceCount; i++)
        total += CountedBytes[i];
    return total;
}

void DeleteAllPorts()
{
    while (PortListHead) {
        PortRecord* port = PortListHead;
        DetachBenchWindow(port);
        delete port;
    }
    PumpMessages();
}

void PrintSection(const char* title)
{
    printf("\n%s\n", title);
    fflush(stdout);
}

void PrintRow(const char* label, const char* figure, const char* target, const char* verdict)
{
    printf("  %-54s %-26s %-14s %s\n", label, figure, target ? target : "", verdict ? verdict : "");
    fflush(stdout);
}

void SetFullLineRate(PortRecord* port)
{
    GetDeviceSettings(port, &port->dcb);
    port->dcb.BaudRate = 921600;
    port->dcb.ByteSize = 8;
    port->dcb.Parity = NOPARITY;
    port->dcb.StopBits = ONESTOPBIT;
    SetDeviceSettings(port, &port->dcb);
}
