#include "port/pattern_check.h"

#include "port/poll.h"

#include <string.h>

// Lines of the pattern are the first 5 to 46 letters of the alphabet, each
// followed by CR LF, so a complete line's length tells its place in the cycle.
#define FIRST_WIDTH 5
#define LAST_WIDTH 46

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
        check->errors++;
        check->synced = 0;
        check->letters = -1;
        check->sawCr = 0;
        SearchLine(check, (unsigned char)data[i++]);
    }
}
