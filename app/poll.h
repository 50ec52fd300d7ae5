// The poll cycle run on every timer tick: it drives each port's engine work,
// then paints what changed.
#pragma once

#include <stdint.h>
#include <windows.h>

class PortRecord;

// The frame's timer asks for the shortest period the system gives: 10 ms on
// NT and under Wine.
#define POLL_PERIOD_MS 10

// Polls run since start-up, and when the last one began on the engine's clock.
extern uint64_t PollCount;
extern ULONGLONG LastPollTime;
// How long boxes raised inside the poll held it in all, and the longest gap
// between the starts of two polls.
extern ULONGLONG PollHeldMs;
extern uint32_t LongestPollGapMs;
// The clock with the time the poll was held left out.
ULONGLONG ActiveClock(ULONGLONG now);

void PollAllPorts();
void ServicePort(PortRecord* port);
