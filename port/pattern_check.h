// Checks received bytes against the test pattern, taken as an endless cycle
// of its lines, so a burn-in can count corrupted, lost or foreign bytes.
#pragma once
#include <stdint.h>

struct PatternCheck {
    uint64_t verified; // bytes that matched while synchronised
    uint64_t errors;   // mismatches; each one drops synchronisation
    uint64_t unsynced; // bytes received while not synchronised
    int synced;        // 1: `position` is the offset expected next in the pattern
    int position;
    int letters; // unsynchronised: letters of the current line so far, -1 when it cannot be one
    int sawCr;   // unsynchronised: the line's letters were followed by CR
};

void ResetPatternCheck(PatternCheck* check);
void CheckPattern(PatternCheck* check, const char* data, int count);
