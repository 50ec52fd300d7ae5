// The burn-in's verdict rules: from the program's status records at the end
// of a run (or at a snapshot), each port passes only when it worked for the
// whole run and everything it sent came back.
#pragma once
#include "app/query.h"

#include <string>
#include <vector>

// A port passes only when it carried at least this share of what its line
// could carry in the polls that ran.
#define CAPACITY_PERCENT 90
// No stretch without new verified bytes may last longer than this, or than
// STALL_CHARACTERS character times and a poll period at slow rates.
#define STALL_LIMIT_MS 3000
#define STALL_CHARACTERS 100
// The box of a driver that cannot read the modem inputs at all (a
// pseudo-terminal): a note, not a failure.
#define MODEM_STATUS_NOTE_BOX "GetCommModemStatus Error:50"
// With no pattern error, only the start of the first line and the line
// synchronised on go unchecked: two of the longest lines.
#define UNSYNCED_ALLOWANCE 96
// The settle allows twice the time of what is queued and two patterns more.
#define SETTLE_PATTERN_BYTES 1155
#define SETTLE_MARGIN_MS 2000

enum VerdictState { VERDICT_PASS, VERDICT_FAIL, VERDICT_INCOMPLETE };

struct Verdict {
    VerdictState state;
    std::string reason;
    std::string note;
};

// What the client knows of a run beyond the records.
struct RunFacts {
    int complete;             // ran its time and settled
    double endedAt;           // run seconds when it ended early (not complete)
    int stoppedAnswering;     // Tarnwick ended or stopped answering then
    int pairs;                // ports judged in null-modem pairs, in order
    std::vector<double> gone; // per port: run seconds it was found closed, or < 0
};

// `ports` are the run's records in port order (a closed port keeps its last
// record); `header` is the reply they came with.
std::vector<Verdict> JudgeRun(const std::vector<QueryPortStatus2>& ports,
                              const QueryReplyHeader2& header, const RunFacts& facts);
uint32_t StallLimitMs(const QueryPortStatus& port);
std::string HoldNames(uint32_t holdFlags); // "XOFF", "CTS, DSR"...
double RunSeconds(const QueryReplyHeader2& header, uint64_t clockMs);

// The run as the client follows it from snapshot to snapshot: the last
// record of each port, and when a port was found gone.
struct RunView {
    long first;
    std::vector<QueryPortStatus2> last;
    std::vector<int> seen;
    QueryReplyHeader2 header;
    RunFacts facts;
};

void StartRunView(RunView* view, long first, long count, int pairs);
// `records` are the status records after `header` in a version 2 reply.
void UpdateRunView(RunView* view, const QueryReplyHeader2& header, const char* records);
int PortNumber(const char* name); // 0 when not COMn

// After the sending stops: how long what is still queued may take to arrive,
// and whether it has (empty queues, nothing new since `before`).
uint32_t SettleLimitMs(const std::vector<QueryPortStatus2>& ports);
int Settled(const std::vector<QueryPortStatus2>& before, const RunView& view);
