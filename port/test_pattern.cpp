#include "port/test_pattern.h"

#include <string.h>

char TestPattern[TEST_PATTERN_BOUND];
int TestPatternLength = 0;

// Lines of the pattern are the first 5 to 46 letters of the alphabet, each
// followed by CR LF, so a complete line's length tells its place in the cycle.
static const char PatternAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";

#define PATTERN_LIMIT 5000
#define FIRST_WIDTH 5
#define LAST_WIDTH 46
// One round of widths 5 to 46 is 1,155 bytes; the pattern stops at the end
// of the first round that ends past this, so it holds exactly one round.
#define PATTERN_ROUNDS_PAST 700

int FillTestPattern(char* buffer)
{
    int pos = 0;
    int width = FIRST_WIDTH;
    while (pos < PATTERN_LIMIT && width > 0) {
        memcpy(buffer + pos, PatternAlphabet, width);
        pos += width;
        if (width < LAST_WIDTH) {
            width++;
        } else {
            width = FIRST_WIDTH;
            if (pos > PATTERN_ROUNDS_PAST)
                width = 0;
        }
        buffer[pos++] = '\r';
        buffer[pos++] = '\n';
        buffer[pos] = 0;
    }
    return pos;
}

void BuildTestPattern()
{
    TestPatternLength = FillTestPattern(TestPattern);
}

static char Expected[TEST_PATTERN_BOUND];
static int ExpectedLength = 0;
// The longest line holds every letter a line starts with, in order.
static const char* Alphabet = nullptr;

// Offset of the line of `width` letters; LAST_WIDTH + 1 gives the cycle length.
static int LineOffset(int width)
{
    return (width - 1) * width / 2 - (FIRST_WIDTH - 1) * FIRST_WIDTH / 2 +
           2 * (width - FIRST_WIDTH);
}

void ResetPatternCheck(PatternCheck* check)
{
    check->verified = 0;
    check->errors = 0;
    check->unsynced = 0;
    check->synced = 0;
    check->position = 0;
    // Whatever arrives first may be the start of a line.
    check->letters = 0;
    check->sawCr = 0;
    memset(check->first, 0, sizeof check->first);
}

// One byte while searching for a complete line to synchronise on.
static void SearchLine(PatternCheck* check, unsigned char byte)
{
    check->unsynced++;
    if (byte == '\n') {
        if (check->sawCr && check->letters >= FIRST_WIDTH) {
            check->synced = 1;
            check->position = LineOffset(check->letters + 1) % ExpectedLength;
        }
        check->letters = 0;
        check->sawCr = 0;
        return;
    }
    if (check->sawCr || check->letters < 0) {
        check->letters = -1;
        check->sawCr = 0;
        return;
    }
    if (byte == '\r')
        check->sawCr = 1;
    else if (check->letters < LAST_WIDTH && byte == (unsigned char)Alphabet[check->letters])
        check->letters++;
    else
        check->letters = -1;
}

void CheckPattern(PatternCheck* check, const char* data, int count)
{
    if (ExpectedLength == 0) {
        ExpectedLength = FillTestPattern(Expected);
        Alphabet = Expected + LineOffset(LAST_WIDTH);
    }
    int i = 0;
    while (i < count) {
        if (!check->synced && check->letters < 0) {
            // Nothing before the next LF can start a line.
            const char* end = (const char*)memchr(data + i, '\n', count - i);
            int skipped = end ? (int)(end - (data + i)) : count - i;
            check->unsynced += (uint64_t)skipped;
            i += skipped;
            if (end)
                SearchLine(check, (unsigned char)data[i++]);
            continue;
        }
        if (!check->synced) {
            SearchLine(check, (unsigned char)data[i++]);
            continue;
        }
        int position = check->position;
        // Whole stretches up to the end of the cycle are compared at once;
        // only a stretch that differs is walked byte by byte.
        int stretch = count - i < ExpectedLength - position ? count - i : ExpectedLength - position;
        if (memcmp(data + i, Expected + position, stretch) == 0) {
            check->verified += (uint64_t)stretch;
            check->position = (position + stretch) % ExpectedLength;
            i += stretch;
            continue;
        }
        while (data[i] == Expected[position]) {
            i++;
            position++;
            check->verified++;
        }
        if (check->errors < PATTERN_FIRST_ERRORS) {
            PatternError& error = check->first[check->errors];
            error.offset = check->verified + check->unsynced;
            error.expected = (unsigned char)Expected[position];
            error.received = (unsigned char)data[i];
        }
        check->errors++;
        check->synced = 0;
        check->letters = -1;
        check->sawCr = 0;
        SearchLine(check, (unsigned char)data[i++]);
    }
}
