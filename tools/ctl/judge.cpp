#include "tools/ctl/judge.h"

#include "port/port_run.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int PortNumber(const char* name)
{
    char* end = nullptr;
    if (_strnicmp(name, "COM", 3) != 0 || name[3] < '1' || name[3] > '9')
        return 0;
    long number = strtol(name + 3, &end, 10);
    return *end == 0 && number <= 0xFFFF ? (int)number : 0;
}

static std::string Seconds(double seconds)
{
    char text[32];
    snprintf(text, sizeof text, "%.1f s", seconds < 0 ? 0 : seconds);
    return text;
}

double RunSeconds(const QueryReplyHeader2& header, uint64_t clockMs)
{
    return clockMs > header.runStartClockMs ? (clockMs - header.runStartClockMs) / 1000.0 : 0;
}

static double CharacterMsOf(const QueryPortStatus& port);

uint32_t StallLimitMs(const QueryPortStatus& port)
{
    double slow = STALL_CHARACTERS * CharacterMsOf(port) + 10;
    return slow > STALL_LIMIT_MS ? (uint32_t)slow : STALL_LIMIT_MS;
}

std::string HoldNames(uint32_t holdFlags)
{
    static const char* const names[] = {"CTS", "DSR", "CD", "XOFF", "XOFF sent", "EOF", "TXIM"};
    std::string text;
    for (int bit = 0; bit < 7; bit++)
        if (holdFlags & (1u << bit))
            text += (text.empty() ? "" : ", ") + std::string(names[bit]);
    return text;
}

static std::string Hex(uint8_t byte)
{
    char text[8];
    snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

static std::string Plural(uint64_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

static int OnlyModemBox(const QueryPortStatus2& port)
{
    return port.boxes == 1 && strcmp(port.lastBox, MODEM_STATUS_NOTE_BOX) == 0;
}

struct Reasons {
    std::vector<std::string> list;
    void Add(const std::string& reason)
    {
        list.push_back(reason);
    }
    std::string Text() const
    {
        std::string text;
        for (const std::string& reason : list)
            text += (text.empty() ? "" : "; ") + reason;
        return text;
    }
};

// What went wrong with the port itself: it left the run, raised a box, or
// was changed from outside.
static void JudgeRunMembership(const QueryPortStatus2& port, const QueryReplyHeader2& header,
                               double gone, Reasons* reasons, std::string* note)
{
    if (gone >= 0)
        reasons->Add("closed or vanished at " + Seconds(gone));
    else if (!(port.runFlags & QUERY_RUN_IN) || port.runStartClockMs != header.runStartClockMs)
        reasons->Add("left the run (closed and opened again?)");
    if (port.boxes && !OnlyModemBox(port))
        reasons->Add("box \"" + std::string(port.lastBox) + "\" at " +
                     Seconds(RunSeconds(header, port.lastBoxClockMs)));
    else if (port.base.modemStatusFailing || OnlyModemBox(port))
        *note = "modem status unreadable";
    if (port.interference & RUN_COUNTERS_RESET)
        reasons->Add("counters reset during the run");
    if (port.interference & RUN_SETTINGS_CHANGED)
        reasons->Add("line settings changed during the run");
    if (port.interference & RUN_LOOPBACK_TEST)
        reasons->Add("loopback-plug test run during the run");
}

// How the port sent: enough for its line, and its stream never stalled.
// `receiver` got what the port sent (itself, or its partner).
static void JudgeSending(const QueryPortStatus2& port, const QueryPortStatus2& receiver,
                         int complete, Reasons* reasons)
{
    if (complete && port.base.bytesSent == 0)
        reasons->Add("nothing sent");
    else if (complete && port.lineSent * 100 < port.capacity * CAPACITY_PERCENT) {
        unsigned long long percent = port.capacity ? port.lineSent * 100 / port.capacity : 0;
        reasons->Add("sent " + std::to_string(percent) + " % of what its line could carry (" +
                     std::to_string(port.lineSent) + " of " + std::to_string(port.capacity) +
                     " bytes)");
    }
    if (receiver.longestStallMs <= StallLimitMs(port.base))
        return;
    if (port.holdFlagsSeen && port.longestHoldMs * 2 >= receiver.longestStallMs)
        reasons->Add("output held (" + HoldNames(port.holdFlagsSeen) + ") from " +
                     Seconds(port.holdFromMs / 1000.0));
    else
        reasons->Add("no data from " + Seconds(receiver.stallFromMs / 1000.0) + " on");
}

// What the port received from `sender`: all of it, and all of it right.
static void JudgeReceiving(const QueryPortStatus2& port, const QueryPortStatus2& sender,
                           const QueryReplyHeader2& header, int complete, Reasons* reasons)
{
    const QueryPortStatus& p = port.base;
    if (p.patternErrors) {
        const QueryPatternError& first = port.firstErrors[0];
        reasons->Add(Plural(p.patternErrors, "pattern error", "pattern errors") +
                     " (the first at " + Seconds(RunSeconds(header, first.clockMs)) + ", byte " +
                     std::to_string(first.offset) + ": " + Hex(first.expected) + " expected, " +
                     Hex(first.received) + " received)");
    }
    std::string lineErrors;
    for (int kind = 0; kind < LINE_ERROR_KINDS; kind++) {
        if (!p.lineErrors[kind])
            continue;
        // "<ERR:FRAME>" gives FRAME.
        std::string marker = LineErrorMarkers[kind].marker;
        lineErrors += (lineErrors.empty() ? "line errors: " : ", ") +
                      marker.substr(5, marker.size() - 6) + " " +
                      std::to_string(p.lineErrors[kind]);
    }
    if (!lineErrors.empty())
        reasons->Add(lineErrors);
    if (!p.patternErrors && p.unsynced > UNSYNCED_ALLOWANCE)
        reasons->Add(std::to_string(p.unsynced) + " received bytes were not the test pattern");
    if (!complete)
        return;
    // Bytes a held sender still queues never left it; that is the sender's fault.
    uint64_t queued = sender.base.outQueue, accepted = sender.base.bytesSent;
    uint64_t sent = accepted > queued ? accepted - queued : 0;
    if (sent == 0 && p.bytesReceived)
        reasons->Add("received " + std::to_string(p.bytesReceived) + " bytes, none sent");
    if (sent == 0)
        return;
    if (p.bytesReceived == 0)
        reasons->Add("nothing received");
    else if (p.bytesReceived != sent)
        reasons->Add("received " + std::to_string(p.bytesReceived) + " of the " +
                     std::to_string(sent) + " bytes sent");
    if (p.verified + p.unsynced != p.bytesReceived)
        reasons->Add(std::to_string(p.verified) + " verified and " + std::to_string(p.unsynced) +
                     " unsynchronised bytes do not add up to the " +
                     std::to_string(p.bytesReceived) + " received");
}

std::vector<Verdict> JudgeRun(const std::vector<QueryPortStatus2>& ports,
                              const QueryReplyHeader2& header, const RunFacts& facts)
{
    std::vector<Verdict> verdicts;
    for (size_t i = 0; i < ports.size(); i++) {
        // In pairs, port 2k sends to 2k+1 and back.
        size_t partner = facts.pairs ? (i ^ 1) : i;
        if (partner >= ports.size())
            partner = i;
        Verdict verdict;
        Reasons reasons;
        double gone = i < facts.gone.size() ? facts.gone[i] : -1;
        if (facts.stoppedAnswering)
            reasons.Add("Tarnwick stopped answering at " + Seconds(facts.endedAt));
        JudgeRunMembership(ports[i], header, gone, &reasons, &verdict.note);
        double partnerGone = partner < facts.gone.size() ? facts.gone[partner] : -1;
        if (partner != i && partnerGone >= 0)
            reasons.Add("its partner " + std::string(ports[partner].base.name) + " was gone at " +
                        Seconds(partnerGone));
        int complete = facts.complete && !facts.stoppedAnswering;
        JudgeSending(ports[i], ports[partner], complete, &reasons);
        JudgeReceiving(ports[i], ports[partner], header, complete, &reasons);
        if (!reasons.list.empty())
            verdict.state = VERDICT_FAIL;
        else if (!complete)
            verdict.state = VERDICT_INCOMPLETE;
        else
            verdict.state = VERDICT_PASS;
        if (verdict.state == VERDICT_INCOMPLETE)
            reasons.Add("incomplete at " + Seconds(facts.endedAt));
        verdict.reason = reasons.Text();
        verdicts.push_back(verdict);
    }
    return verdicts;
}

void StartRunView(RunView* view, long first, long count, int pairs)
{
    view->first = first;
    view->last.assign(count, QueryPortStatus2());
    for (QueryPortStatus2& record : view->last) {
        memset(&record, 0, sizeof record);
        snprintf(record.base.name, sizeof record.base.name, "COM%ld", first++);
    }
    view->seen.assign(count, 0);
    memset(&view->header, 0, sizeof view->header);
    view->facts = RunFacts();
    view->facts.pairs = pairs;
    view->facts.gone.assign(count, -1);
}

void UpdateRunView(RunView* view, const QueryReplyHeader2& header, const char* records)
{
    view->header = header;
    std::vector<int> present(view->last.size(), 0);
    for (uint32_t i = 0; i < header.head.count; i++) {
        QueryPortStatus2 record;
        memcpy(&record, records + (size_t)i * sizeof record, sizeof record);
        record.base.name[sizeof record.base.name - 1] = 0;
        record.lastBox[sizeof record.lastBox - 1] = 0;
        long index = PortNumber(record.base.name) - view->first;
        if (index < 0 || index >= (long)view->last.size())
            continue;
        // A port closed and opened again is not the run's: its run record stays.
        int ours = (record.runFlags & QUERY_RUN_IN) &&
                   (!header.runStartClockMs || record.runStartClockMs == header.runStartClockMs);
        if (view->facts.gone[index] >= 0 || (view->seen[index] && !ours))
            continue;
        view->last[index] = record;
        view->seen[index] = 1;
        present[index] = 1;
    }
    for (size_t i = 0; i < view->last.size(); i++)
        if (view->seen[i] && !present[i] && view->facts.gone[i] < 0)
            view->facts.gone[i] = RunSeconds(header, header.clockMs);
}

static double CharacterMsOf(const QueryPortStatus& port)
{
    DCB dcb;
    memset(&dcb, 0, sizeof dcb);
    dcb.BaudRate = port.baudRate;
    dcb.ByteSize = port.dataBits;
    dcb.Parity = port.parity;
    dcb.StopBits = port.stopBits;
    return CharacterMs(dcb);
}

uint32_t SettleLimitMs(const std::vector<QueryPortStatus2>& ports)
{
    double longest = 0;
    for (const QueryPortStatus2& port : ports) {
        double bytes = port.base.outQueue + port.base.inQueue + 2.0 * SETTLE_PATTERN_BYTES;
        double ms = bytes * CharacterMsOf(port.base);
        longest = ms > longest ? ms : longest;
    }
    return (uint32_t)(2 * longest) + SETTLE_MARGIN_MS;
}

int Settled(const std::vector<QueryPortStatus2>& before, const RunView& view)
{
    if (before.size() != view.last.size())
        return 0;
    for (size_t i = 0; i < before.size(); i++) {
        const QueryPortStatus& now = view.last[i].base;
        if (view.facts.gone[i] >= 0)
            continue;
        if (now.outQueue || now.inQueue || now.bytesReceived != before[i].base.bytesReceived)
            return 0;
    }
    return 1;
}
