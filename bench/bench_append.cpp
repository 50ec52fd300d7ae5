#include "bench/bench.h"
#include "port/port_record.h"
#include "port/screen_text.h"

#include <algorithm>
#include <stdio.h>
#include <vector>

#define APPEND_SOURCE_BYTES (1 << 20)
#define APPEND_CHUNK 5000

static void FillPrintable(std::vector<unsigned char>& data)
{
    for (size_t i = 0; i < data.size(); i++)
        data[i] = (unsigned char)(0x20 + i % 95);
}

static void FillLines(std::vector<unsigned char>& data)
{
    for (size_t i = 0; i < data.size(); i++) {
        size_t column = i % 40;
        data[i] = column == 38 ? '\r' : column == 39 ? '\n' : (unsigned char)(0x20 + i % 95);
    }
}

static void FillRandom(std::vector<unsigned char>& data)
{
    unsigned int state = 2463534242u;
    for (size_t i = 0; i < data.size(); i++) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        data[i] = (unsigned char)(state >> 24);
    }
}

// Appends the data in poll-sized chunks until at least minSeconds passed;
// returns MB/s (10^6 bytes).
static double AppendTrial(PortRecord* port, const std::vector<unsigned char>& data,
                          double minSeconds)
{
    double start = WallSeconds();
    double elapsed = 0;
    ULONGLONG bytes = 0;
    do {
        for (size_t at = 0; at < data.size(); at += APPEND_CHUNK) {
            int count = (int)std::min((size_t)APPEND_CHUNK, data.size() - at);
            AppendText(port, &data[at], count);
            bytes += (ULONGLONG)count;
        }
        elapsed = WallSeconds() - start;
    } while (elapsed < minSeconds);
    return (double)bytes / elapsed / 1e6;
}

static void MeasureAppend(const char* label, const std::vector<unsigned char>& data, bool quick,
                          bool hasTarget)
{
    PortRecord* port = new PortRecord;
    std::vector<double> rates;
    int trials = quick ? 3 : 5;
    for (int i = 0; i < trials; i++)
        rates.push_back(AppendTrial(port, data, quick ? 0.05 : 0.25));
    delete port;
    std::sort(rates.begin(), rates.end());
    double median = rates[rates.size() / 2];
    char figure[64];
    snprintf(figure, sizeof figure, "%8.1f MB/s (%.1f-%.1f)", median, rates.front(), rates.back());
    PrintRow(label, figure, hasTarget ? "> 100 MB/s" : "",
             hasTarget ? (median > 100 ? "met" : "MISSED") : "");
}

void RunAppendBenchmarks(bool quick)
{
    PrintSection("AppendText throughput (5,000-byte chunks, median of trials, range)");
    std::vector<unsigned char> data(APPEND_SOURCE_BYTES);
    FillPrintable(data);
    MeasureAppend("printable text, no line ends", data, quick, true);
    FillLines(data);
    MeasureAppend("text with CR LF every 40 bytes", data, quick, true);
    FillRandom(data);
    int markers = 0;
    for (unsigned char byte : data)
        markers += byte < 0x20 || byte > 0x80;
    char label[80];
    snprintf(label, sizeof label, "random bytes (%d%% shown as markers)",
             (int)(100.0 * markers / data.size() + 0.5));
    MeasureAppend(label, data, quick, false);
}
