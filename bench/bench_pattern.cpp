#include "bench/bench.h"
#include "port/port_record.h"
#include "port/screen_text.h"
#include "port/test_pattern.h"

#include <algorithm>
#include <stdio.h>
#include <vector>

#define PATTERN_SOURCE_BYTES (1 << 20)
#define PATTERN_CHUNK 5000

// MB/s of `work` over the data in poll-sized chunks, median of trials.
template <typename Work> static double Rate(const std::vector<char>& data, bool quick, Work work)
{
    std::vector<double> rates;
    for (int trial = 0; trial < (quick ? 3 : 5); trial++) {
        double start = WallSeconds(), elapsed = 0;
        ULONGLONG bytes = 0;
        do {
            for (size_t at = 0; at < data.size(); at += PATTERN_CHUNK) {
                int count = (int)std::min((size_t)PATTERN_CHUNK, data.size() - at);
                work(&data[at], count);
                bytes += (ULONGLONG)count;
            }
            elapsed = WallSeconds() - start;
        } while (elapsed < (quick ? 0.05 : 0.25));
        rates.push_back((double)bytes / elapsed / 1e6);
    }
    std::sort(rates.begin(), rates.end());
    return rates[rates.size() / 2];
}

static void MeasureCheck(const char* label, const std::vector<char>& data, bool quick)
{
    PatternCheck check;
    ResetPatternCheck(&check);
    double checkRate = Rate(
        data, quick, [&](const char* bytes, int count) { CheckPattern(&check, bytes, count); });
    PortRecord* port = new PortRecord;
    double appendRate =
        Rate(data, quick, [&](const char* bytes, int count) { AppendText(port, bytes, count); });
    delete port;
    // Against what every received byte already costs (the append to the
    // screen), and against the most a full adapter can deliver.
    double share = 100.0 * appendRate / checkRate;
    double core = 100.0 * 64 * LINE_RATE_921600 / 1e6 / checkRate;
    char figure[64];
    snprintf(figure, sizeof figure, "%7.0f MB/s, %.2f %% of a core", checkRate, core);
    PrintRow(label, figure, "< 1 % at 64 x 921600", core < 1 ? "met" : "MISSED");
    printf("  %-54s %.1f %% of the time AppendText takes for the same bytes\n", "", share);
}

void RunPatternBenchmarks(bool quick)
{
    PrintSection("Pattern check of received bytes (5,000-byte chunks, median of trials)");
    std::vector<char> data(PATTERN_SOURCE_BYTES);
    char pattern[TEST_PATTERN_BOUND];
    int length = FillTestPattern(pattern);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = pattern[i % length];
    MeasureCheck("test pattern, synchronised", data, quick);
    unsigned int state = 2463534242u;
    for (char& byte : data) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = (char)(state >> 24);
    }
    MeasureCheck("random bytes, never synchronised", data, quick);
}
