// Line status (queue counts, hold flags, line errors) and modem inputs.
#pragma once
#include <windows.h>

class PortRecord;

struct QueueCounts {
    DWORD outQueue;
    DWORD inQueue;
};

int PollLineStatus(PortRecord* port, QueueCounts* counts);
int PollModemStatus(PortRecord* port);
