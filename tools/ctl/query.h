// The client side of Tarnwick's query interface (app/query.h).
#pragma once
#include "app/query.h"
#include "tools/ctl/ctl.h"
#include "tools/ctl/judge.h"

#include <string>
#include <vector>

// Sends one request and checks the reply's layout; on success `records`
// holds the records after the header. Prints the failure otherwise.
// Requests that change nothing are sent again when their reply is lost.
int Query(const Target& target, uint32_t kind, const char* port, QueryReplyHeader2* header,
          std::vector<char>* records);
// Sends a request of any kind and size (its reply window filled in), again up
// to `attempts` times while no reply comes; the reply as it came.
int ExchangeQuery(const Target& target, void* request, DWORD size, int attempts,
                  std::vector<char>* reply);
int QueryStatus(const Target& target, std::vector<QueryPortStatus>* ports, int* testDataOn);
// The version 2 status records, as they came.
int QueryStatus2(const Target& target, QueryReplyHeader2* header, std::vector<char>* records);
// One phase of this tool's burn-in run on COMfirst to COMfirst+count-1.
int RunPhase(const Target& target, long first, long count, uint32_t phase, uint32_t* touched);
std::string LineSettingsText(const QueryPortStatus& port);
std::string LineErrorsText(const QueryPortStatus& port); // "FRAME 3, OVERRUN 1", or empty
uint32_t LineErrorTotal(const QueryPortStatus& port);
