#include "app/state.h"
#include "port/port_record.h"
#include "sim/sim.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <string.h>

class PortList : public testing::Test
{
  protected:
    void SetUp() override
    {
        ResetProgramState();
    }
    void TearDown() override
    {
        ResetProgramState();
    }
    // Links records as OpenPort does, without a device.
    void Link(PortRecord* p)
    {
        p->next = PortListHead;
        PortListHead = p;
    }
};

TEST_F(PortList, NewRecordHasItsInitialValues)
{
    PortRecord p;
    EXPECT_EQ(3, p.outputSignals);
    EXPECT_EQ(0, p.inputSignals);
    EXPECT_EQ(255, p.paintedInputSignals);
    EXPECT_EQ(255, p.paintedOutputSignals);
    EXPECT_STREQ("", p.name);
    EXPECT_EQ(nullptr, p.device);
    EXPECT_EQ(nullptr, p.next);
    EXPECT_EQ(0, p.windowDirty);
    EXPECT_EQ(0, p.currentLine);
    EXPECT_EQ(0, p.currentColumn);
    for (const ScreenLine& l : p.lines) {
        EXPECT_EQ(0, l.text[0]);
        EXPECT_EQ(0, l.dirty);
    }
    EXPECT_EQ(sizeof(DCB), p.dcb.DCBlength);
    EXPECT_EQ(0u, p.dcb.BaudRate);
}

TEST_F(PortList, DeletingHeadMiddleAndOnlyRecords)
{
    PortRecord* a = new PortRecord;
    PortRecord* b = new PortRecord;
    PortRecord* c = new PortRecord;
    Link(a);
    Link(b);
    Link(c); // list: c, b, a
    delete b;
    ASSERT_EQ(c, PortListHead);
    EXPECT_EQ(a, c->next);
    delete c;
    EXPECT_EQ(a, PortListHead);
    delete a;
    EXPECT_EQ(nullptr, PortListHead);
}

TEST_F(PortList, DeletingARecordNotInTheListLeavesTheListAlone)
{
    PortRecord outside;
    UnlinkPort(&outside); // empty list
    EXPECT_EQ(nullptr, PortListHead);
    PortRecord a, b;
    Link(&a);
    Link(&b);
    UnlinkPort(&outside);
    EXPECT_EQ(&b, PortListHead);
    EXPECT_EQ(&a, b.next);
    EXPECT_EQ(nullptr, a.next);
    UnlinkPort(&a);
    UnlinkPort(&b);
}

TEST_F(PortList, RecordWithoutDeviceIsReleasedWithoutDeviceCalls)
{
    SimulatedAdapter sim;
    {
        PortRecord p;
    }
    EXPECT_EQ(0, Sim::CallCount(Sim::CALL_PURGE));
    EXPECT_EQ(0, Sim::CallCount(Sim::CALL_CLOSE_HANDLE));
}

TEST_F(PortList, WatchLearnsThatItsRecordWasDeleted)
{
    PortRecord* p = new PortRecord;
    PortRecord other;
    RecordWatch watch, otherWatch;
    WatchRecord(&watch, p);
    WatchRecord(&otherWatch, &other);
    delete p;
    EXPECT_EQ(1, watch.closed);
    EXPECT_EQ(0, otherWatch.closed);
    UnwatchRecord(&watch);
    UnwatchRecord(&otherWatch);
}

static BOOL WINAPI FailingQuery(LPOSVERSIONINFOA)
{
    return FALSE;
}

static BOOL WINAPI OtherFamilyQuery(LPOSVERSIONINFOA info)
{
    EXPECT_EQ(148u, info->dwOSVersionInfoSize);
    info->dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
    return TRUE;
}

TEST(Platform, ReportedFamilyOrNtWhenTheQueryFails)
{
    VersionQueryFn saved = VersionQuery;
    DeterminePlatform();
    EXPECT_EQ(VER_PLATFORM_WIN32_NT, PlatformId); // Wine reports the NT family
    VersionQuery = OtherFamilyQuery;
    DeterminePlatform();
    EXPECT_EQ(VER_PLATFORM_WIN32_WINDOWS, PlatformId);
    VersionQuery = FailingQuery;
    PlatformId = 0;
    DeterminePlatform();
    EXPECT_EQ(VER_PLATFORM_WIN32_NT, PlatformId);
    VersionQuery = saved;
}
