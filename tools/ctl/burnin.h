// The burn-in's parts: running the ports, and judging and reporting them.
#pragma once
#include "tools/ctl/judge.h"
#include "tools/ctl/query.h"

#include <string>
#include <vector>

struct BurninRequest {
    long first;
    long count;
    long seconds;
    int pairs;
    const char* report;             // CSV, a row per port
    const char* junit;              // JUnit XML
    const char* errors;             // CSV, the first pattern errors of each port
    std::vector<char*> openOptions; // line settings, passed on to open
};

// What a report is written from: the run so far, its verdicts, the answered boxes.
struct BurninResult {
    const BurninRequest* request;
    const RunView* view;
    std::vector<Verdict> verdicts;
    double seconds; // how long the run has gone
};

// Each file through a temporary one and a rename. EXIT_OK, or EXIT_FAILED
// when a file could not be written; a failed rename only warns unless this
// is the `last` write of the run.
int WriteReports(const BurninResult& result, int last);
// Whether each report path can be written; usage errors otherwise.
int CheckReportPaths(const BurninRequest& request);
void PrintVerdictTable(const BurninResult& result);
std::string SettingsText(const QueryPortStatus& port);
