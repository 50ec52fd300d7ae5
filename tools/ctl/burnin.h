// The burn-in's parts: running the ports, and judging and reporting them.
#pragma once
#include "tools/ctl/query.h"

#include <string>
#include <vector>

struct BurninRequest {
    long first;
    long count;
    long seconds;
    const char* report;
    std::vector<char*> openOptions; // line settings, passed on to open
};

struct Verdict {
    int passed;
    std::string reason;
    std::string note;
};

// Prints a verdict per port and the summary, writes the CSV report when one
// was asked for; EXIT_BURNIN_FAILED when a port failed.
int PrintVerdicts(const BurninRequest& request, const std::vector<QueryPortStatus>& run);
