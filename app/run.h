// The burn-in run, program-wide: which client owns it, and the poll's record
// while it sends. One run at a time; a run whose client has died ends.
#pragma once
#include "app/query.h"

#include <stdint.h>
#include <windows.h>

struct RunRecord {
    DWORD owner;
    HANDLE ownerProcess; // kept open, so a reused process id is never taken for it
    int sending;
    ULONGLONG startClock;
    ULONGLONG stopClock;
    uint64_t startPolls;
    uint64_t polls;
    ULONGLONG startHeld;
    ULONGLONG held;
    uint32_t longestGapMs;
};

extern RunRecord Run;

// QUERY_OK, or why the request is refused.
uint32_t CheckRunRequest(const QueryRunRequest& request);
// Carries out a checked request; answers the number of ports it touched.
uint32_t PerformRunRequest(const QueryRunRequest& request);
void FillRunHeader(QueryReplyHeader2* header, ULONGLONG now);
// Called by each poll: a run whose client is gone ends.
void CheckRunOwner(ULONGLONG now);
