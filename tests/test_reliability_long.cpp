// Long runs: 64 ports opened and closed again and again, and 64 ports under
// Send Test Data for simulated minutes. What the process holds afterwards
// (handles, private memory, GDI objects, the adapter's handles) must be what
// it held before. The short runs belong to the normal suite; the full ones
// take minutes and run from tools/reliability-long.sh.
#include "tests/reliability_support.h"

#include <malloc.h>
#include <psapi.h>

struct Holdings {
    size_t adapterRecords;
    DWORD handles;
    SIZE_T privateBytes;
    SIZE_T heapBytes;
    DWORD gdiObjects;
    int adapterHandles;
};

// Wine answers GetProcessHandleCount with 0; there every handle value that
// the system still knows is counted instead (Wine hands out small multiples
// of 4).
static DWORD CountHandles()
{
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0)
        return count;
    count = 0;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        DWORD flags;
        if (GetHandleInformation((HANDLE)value, &flags))
            count++;
    }
    return count;
}

// Bytes in use on the C heap, where every record, request and buffer of
// the program lives: exact, unlike the page counts.
static SIZE_T HeapBytesInUse()
{
    SIZE_T used = 0;
    _HEAPINFO entry = {};
    while (_heapwalk(&entry) == _HEAPOK)
        if (entry._useflag == _USEDENTRY)
            used += entry._size;
    return used;
}

// The simulated adapter keeps every PurgeComm and EscapeCommFunction it was
// asked for (tests read them back), so its history grows with each open and
// close: that much heap growth is the test's, not the program's.
static size_t AdapterRecords()
{
    size_t records = 0;
    for (int n = 1; n <= 255; n++)
        records += Sim::Purges(n).size() + Sim::Escapes(n).size();
    return records;
}

static Holdings Measure()
{
    Holdings h = {};
    h.adapterRecords = AdapterRecords();
    h.handles = CountHandles();
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    if (K32GetProcessMemoryInfo(GetCurrentProcess(), (PROCESS_MEMORY_COUNTERS*)&memory,
                                sizeof memory))
        h.privateBytes = memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage;
    h.heapBytes = HeapBytesInUse();
    h.gdiObjects = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    h.adapterHandles = Sim::OpenHandles();
    return h;
}

static void Print(const char* what, const Holdings& before, const Holdings& after)
{
    printf("[ figures ] %s: handles %lu -> %lu, private bytes %lu -> %lu (%+ld), C heap in use "
           "%lu -> %lu (%+ld), GDI objects %lu -> %lu, adapter handles %d -> %d, adapter history "
           "+%lu records\n",
           what, (unsigned long)before.handles, (unsigned long)after.handles,
           (unsigned long)before.privateBytes, (unsigned long)after.privateBytes,
           (long)after.privateBytes - (long)before.privateBytes, (unsigned long)before.heapBytes,
           (unsigned long)after.heapBytes, (long)after.heapBytes - (long)before.heapBytes,
           (unsigned long)before.gdiObjects, (unsigned long)after.gdiObjects, before.adapterHandles,
           after.adapterHandles, (unsigned long)(after.adapterRecords - before.adapterRecords));
}

// The heap keeps freed blocks for reuse and the window system caches a few
// things per class on first use, so memory is compared after a warm-up and
// with room for the allocator's own bookkeeping, far below one run's growth
// if a port leaked (a port record alone is over 8 KB; 64 of them 550 KB).
static const SIZE_T SettledMemory = 256 * 1024;
static const DWORD SettledHandles = 2;
// What gtest itself allocates per run (its output and result records).
static const SIZE_T SettledHeap = 16 * 1024;

static void ExpectHeldAsBefore(const Holdings& before, const Holdings& after)
{
    EXPECT_EQ(before.adapterHandles, after.adapterHandles);
    EXPECT_LE(after.handles, before.handles + SettledHandles);
    EXPECT_LE(after.privateBytes, before.privateBytes + SettledMemory);
    // A vector of records holds up to twice their size.
    SIZE_T history = 2 * sizeof(DWORD) * (after.adapterRecords - before.adapterRecords);
    EXPECT_LE(after.heapBytes, before.heapBytes + SettledHeap + history);
    EXPECT_LE(after.gdiObjects, before.gdiObjects);
}

class ReliabilityLongRun : public ReliabilityTest
{
  protected:
    static const int Ports = 64;

    void OpenAll(int first)
    {
        for (int n = first; n < first + Ports; n++)
            ASSERT_TRUE(OpenPortWindow(n)) << n;
    }

    void CloseAll()
    {
        CloseAllPortWindows();
        PumpMessages(500);
        ASSERT_EQ(nullptr, PortListHead);
    }

    void OpenAndClose(int cycles)
    {
        for (int i = 0; i < cycles; i++) {
            OpenAll(1);
            Ticks(2, 10);
            CloseAll();
        }
    }

    void SendTestData(DWORD simulatedMs)
    {
        OpenAll(101);
        Command(CMD_SEND_TEST_DATA);
        const DWORD step = 50;
        Ticks((int)(simulatedMs / step), step);
        Command(CMD_SEND_TEST_DATA);
        CloseAll();
    }

    void RunOpenClose(int cycles)
    {
        Sim::AddPorts(1, Ports);
        OpenAndClose(1);
        Holdings before = Measure();
        OpenAndClose(cycles);
        Holdings after = Measure();
        char what[64];
        snprintf(what, sizeof what, "%d ports opened and closed %d times", Ports, cycles);
        Print(what, before, after);
        ExpectHeldAsBefore(before, after);
        EXPECT_EQ(Texts{}, boxes.Texts());
    }

    void RunTestData(DWORD simulatedMs)
    {
        Sim::AddPorts(101, Ports, Sim::WIRE_LOOPBACK_PLUG);
        SendTestData(2000);
        Holdings before = Measure();
        int writesBefore = Sim::CallCount(Sim::CALL_WRITE_FILE);
        SendTestData(simulatedMs);
        Holdings after = Measure();
        char what[96];
        snprintf(what, sizeof what, "%d ports under Send Test Data for %lu simulated s (%d writes)",
                 Ports, (unsigned long)(simulatedMs / 1000),
                 Sim::CallCount(Sim::CALL_WRITE_FILE) - writesBefore);
        Print(what, before, after);
        ExpectHeldAsBefore(before, after);
        EXPECT_EQ(Texts{}, boxes.Texts());
        for (int n = 101; n < 101 + Ports; n++)
            EXPECT_EQ(0, Sim::OutstandingRequests(n)) << n;
    }
};

TEST_F(ReliabilityLongRun, SixtyFourPortsOpenedAndClosedTenTimesLeaveNothing)
{
    RunOpenClose(10);
}

TEST_F(ReliabilityLongRun, SixtyFourPortsUnderTestDataForTwentySecondsLeaveNothing)
{
    RunTestData(20 * 1000);
}

TEST_F(ReliabilityLongRun, DISABLED_SixtyFourPortsOpenedAndClosed200Times)
{
    RunOpenClose(200);
}

TEST_F(ReliabilityLongRun, DISABLED_SixtyFourPortsUnderTestDataForTenMinutes)
{
    RunTestData(10 * 60 * 1000);
}
