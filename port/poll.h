// The poll cycle run on every timer tick, and the test pattern.
#pragma once

class PortRecord;

#define TEST_PATTERN_BOUND 5100

extern char TestPattern[TEST_PATTERN_BOUND];
extern int TestPatternLength;

void PollAllPorts();
void ServicePort(PortRecord* port);
void BuildTestPattern();
// Writes the pattern and its terminator into `buffer` (TEST_PATTERN_BOUND
// bytes); returns the pattern's length.
int FillTestPattern(char* buffer);
