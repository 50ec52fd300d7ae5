#include "app/run.h"

#include "app/poll.h"
#include "common/resource.h"
#include "port/device.h"
#include "port/port_record.h"

#include <stdio.h>
#include <string.h>

#define OWNER_CHECK_MS 1000

RunRecord Run;

static int OwnerAlive()
{
    return Run.ownerProcess && WaitForSingleObject(Run.ownerProcess, 0) == WAIT_TIMEOUT;
}

static PortRecord* RunPort(uint32_t number)
{
    char name[16];
    snprintf(name, sizeof name, "COM%u", number);
    return FindOpenPort(name);
}

uint32_t CheckRunRequest(const QueryRunRequest& request)
{
    if (request.phase < RUN_JOIN || request.phase > RUN_LEAVE || request.owner == 0 ||
        request.first < 1 || request.first > HIGHEST_PORT || request.count < 1 ||
        request.count > HIGHEST_PORT || request.first + request.count - 1 > HIGHEST_PORT)
        return QUERY_BAD_RUN;
    if (Run.owner && Run.owner != request.owner && OwnerAlive())
        return QUERY_RUN_BUSY;
    // Repeated by a client that missed the reply, these find their work done.
    if ((request.phase == RUN_STOP || request.phase == RUN_LEAVE) && !Run.owner)
        return QUERY_OK;
    if (request.phase != RUN_JOIN && Run.owner != request.owner)
        return QUERY_RUN_BUSY;
    // Ports may close during a run; the other phases go on without them.
    if (request.phase != RUN_JOIN)
        return QUERY_OK;
    // A run must be able to tell when its client has gone.
    HANDLE owner = OpenProcess(SYNCHRONIZE, FALSE, request.owner);
    if (!owner)
        return QUERY_BAD_RUN;
    CloseHandle(owner);
    for (uint32_t n = request.first; n < request.first + request.count; n++)
        if (!RunPort(n))
            return QUERY_NO_PORT;
    return QUERY_OK;
}

static void StopRun(ULONGLONG now)
{
    if (!Run.sending)
        return;
    Run.sending = 0;
    Run.stopClock = now;
    Run.polls = PollCount - Run.startPolls;
    Run.held = PollHeldMs - Run.startHeld;
    Run.longestGapMs = LongestPollGapMs;
}

static void EndRun(ULONGLONG now)
{
    StopRun(now);
    for (PortRecord* p = PortListHead; p; p = p->next) {
        StopRunSending(p, now);
        LeaveRun(p);
    }
    if (Run.ownerProcess)
        CloseHandle(Run.ownerProcess);
    Run.ownerProcess = nullptr;
    Run.owner = 0;
}

uint32_t PerformRunRequest(const QueryRunRequest& request)
{
    ULONGLONG now = Device.GetTickCount64();
    uint32_t touched = 0;
    switch (request.phase) {
    case RUN_JOIN:
        EndRun(now);
        memset(&Run, 0, sizeof Run);
        Run.owner = request.owner;
        Run.ownerProcess = OpenProcess(SYNCHRONIZE, FALSE, request.owner);
        break;
    case RUN_SEND:
        if (Run.sending)
            return 0;
        Run.sending = 1;
        Run.startClock = now;
        Run.startPolls = PollCount;
        Run.startHeld = PollHeldMs;
        LongestPollGapMs = 0;
        break;
    case RUN_STOP:
        StopRun(now);
        break;
    case RUN_LEAVE:
        for (PortRecord* p = PortListHead; p; p = p->next)
            touched += p->run.inRun ? 1 : 0;
        EndRun(now);
        return touched;
    }
    for (uint32_t n = request.first; n < request.first + request.count; n++) {
        PortRecord* port = RunPort(n);
        if (!port)
            continue;
        touched++;
        if (request.phase == RUN_JOIN)
            JoinRun(port);
        else if (request.phase == RUN_SEND)
            StartRunSending(port, now, ActiveClock(now));
        else
            StopRunSending(port, now);
    }
    return touched;
}

void FillRunHeader(QueryReplyHeader2* header, ULONGLONG now)
{
    header->pollHeldMs = PollHeldMs;
    header->runOwner = Run.owner;
    if (!Run.startClock)
        return;
    header->runStartClockMs = Run.startClock;
    if (Run.sending) {
        header->runMs = now - Run.startClock;
        header->runPolls = PollCount - Run.startPolls;
        header->runHeldMs = PollHeldMs - Run.startHeld;
        header->runLongestGapMs = LongestPollGapMs;
    } else {
        header->runMs = Run.stopClock - Run.startClock;
        header->runPolls = Run.polls;
        header->runHeldMs = Run.held;
        header->runLongestGapMs = Run.longestGapMs;
    }
}

void CheckRunOwner(ULONGLONG now)
{
    static ULONGLONG checked = 0;
    if (!Run.owner || now - checked < OWNER_CHECK_MS)
        return;
    checked = now;
    if (!OwnerAlive())
        EndRun(now);
}
