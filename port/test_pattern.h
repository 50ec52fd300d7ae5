// The test pattern Send Test Data transmits, and the check of received bytes
// against it, taken as an endless cycle of its lines, so a burn-in can count
// corrupted, lost or foreign bytes.
#pragma once
#include <stdint.h>

#define TEST_PATTERN_BOUND 5100

extern char TestPattern[TEST_PATTERN_BOUND];
extern int TestPatternLength;

void BuildTestPattern();
// Writes the pattern and its terminator into `buffer` (TEST_PATTERN_BOUND
// bytes); returns the pattern's length.
int FillTestPattern(char* buffer);

#define PATTERN_FIRST_ERRORS 8

struct PatternError {
    uint64_t offset;  // of the received byte, in the bytes checked since the reset
    uint64_t clockMs; // when the poll found it; stamped by the caller
    unsigned char expected;
    unsigned char received;
};

struct PatternCheck {
    uint64_t verified; // bytes that matched while synchronised
    uint64_t errors;   // mismatches; each one drops synchronisation
    uint64_t unsynced; // bytes received while not synchronised
    int synced;        // 1: `position` is the offset expected next in the pattern
    int position;
    int letters; // unsynchronised: letters of the current line so far, -1 when it cannot be one
    int sawCr;   // unsynchronised: the line's letters were followed by CR
    PatternError first[PATTERN_FIRST_ERRORS]; // the first `errors` of them
};

void ResetPatternCheck(PatternCheck* check);
void CheckPattern(PatternCheck* check, const char* data, int count);
