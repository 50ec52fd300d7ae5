// Line and timed faults of the simulated adapter, for burn-in runs.
#include "sim/sim_internal.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

namespace Sim
{

void SetLineFault(int number, LineFault fault, DWORD every)
{
    Port* p = FindPort(number);
    if (!p)
        return;
    p->fault = every || fault == FAULT_PULLED || fault == FAULT_NONE ? fault : FAULT_NONE;
    p->faultEvery = every;
    p->faultCount = 0;
    // Without the plug no signal comes back either.
    if (fault == FAULT_PULLED)
        p->wiring = WIRE_NONE;
}

void SetTimedFault(int number, TimedFault fault, ULONGLONG atMs)
{
    Port* p = FindPort(number);
    if (!p)
        return;
    SyncRealTime();
    if (fault == FAULT_HELD)
        p->heldFrom = atMs;
    else if (atMs <= S.now)
        Vanish(*p);
    else
        p->vanishAt = atMs;
    ServiceQueues(*p);
}

bool ApplyLineFault(Port& p, const unsigned char* bytes, size_t length, std::string* out)
{
    bool frame = false;
    out->clear();
    if (p.fault == FAULT_PULLED)
        return false;
    for (size_t i = 0; i < length; ++i) {
        unsigned char b = bytes[i];
        bool hit = ++p.faultCount % p.faultEvery == 0;
        if (hit && p.fault == FAULT_DROP)
            continue;
        if (hit && p.fault == FAULT_CORRUPT)
            b ^= 0x20;
        frame = frame || (hit && p.fault == FAULT_FRAME);
        out->push_back((char)b);
    }
    return frame;
}

enum FaultArgument { NO_ARGUMENT, BYTE_COUNT, SECONDS };

struct FaultName {
    const char* name;
    FaultArgument argument;
    LineFault line;
    TimedFault timed;
};

static const FaultName FaultNames[] = {
    {"corrupt", BYTE_COUNT, FAULT_CORRUPT, FAULT_HELD},
    {"drop", BYTE_COUNT, FAULT_DROP, FAULT_HELD},
    {"frame", BYTE_COUNT, FAULT_FRAME, FAULT_HELD},
    {"pulled", NO_ARGUMENT, FAULT_PULLED, FAULT_HELD},
    {"held", SECONDS, FAULT_NONE, FAULT_HELD},
    {"vanish", SECONDS, FAULT_NONE, FAULT_VANISH},
};

struct FaultItem {
    int number;
    const FaultName* kind;
    ULONGLONG value; // bytes, or milliseconds for SECONDS
};

// Digits with at most one decimal point, so strtod's signs, exponents,
// "inf" and "nan" are refused too.
static bool ParseSeconds(const std::string& text, ULONGLONG* ms)
{
    size_t digits = 0, points = 0;
    for (char c : text) {
        digits += isdigit((unsigned char)c) ? 1 : 0;
        points += c == '.' ? 1 : 0;
    }
    if (digits == 0 || points > 1 || digits + points != text.size() || text.size() > 12)
        return false;
    *ms = (ULONGLONG)(strtod(text.c_str(), nullptr) * 1000 + 0.5);
    return true;
}

static bool ParseArgument(const FaultName& kind, const std::string& text, bool given,
                          ULONGLONG* value)
{
    if (kind.argument == NO_ARGUMENT)
        return !given;
    if (kind.argument == SECONDS)
        return ParseSeconds(text, value);
    char* end = nullptr;
    long count = text.empty() ? 0 : strtol(text.c_str(), &end, 10);
    *value = (ULONGLONG)count;
    return !text.empty() && !*end && count >= 1;
}

static std::string ArgumentHint(const FaultName& kind)
{
    std::string name = kind.name;
    if (kind.argument == BYTE_COUNT)
        return "give one byte in how many, e.g. " + name + ":20000";
    if (kind.argument == SECONDS)
        return "give the second it starts at, e.g. " + name + ":4.5";
    return name + " takes no count";
}

// One "COMn=kind[:argument]" item.
static bool ParseFault(const std::string& item, FaultItem* out, std::string* error)
{
    size_t equals = item.find('=');
    char* end = nullptr;
    if (equals == std::string::npos || _strnicmp(item.c_str(), "COM", 3) != 0) {
        *error = "\"" + item + "\" is not COMn=fault";
        return false;
    }
    out->number = (int)strtol(item.c_str() + 3, &end, 10);
    if (end != item.c_str() + equals || !FindPort(out->number)) {
        *error = "\"" + item.substr(0, equals) + "\" is not a port of the adapter";
        return false;
    }
    std::string kind = item.substr(equals + 1);
    std::string count;
    size_t colon = kind.find(':');
    if (colon != std::string::npos) {
        count = kind.substr(colon + 1);
        kind.resize(colon);
    }
    for (const FaultName& name : FaultNames) {
        if (kind != name.name)
            continue;
        out->kind = &name;
        if (!ParseArgument(name, count, colon != std::string::npos, &out->value)) {
            *error = "\"" + item + "\": " + ArgumentHint(name);
            return false;
        }
        return true;
    }
    *error = "\"" + kind + "\" is not a fault (corrupt, drop, frame, pulled, held, vanish)";
    return false;
}

bool ApplyFaultList(const char* text, std::string* error)
{
    std::vector<FaultItem> items;
    std::string list = text ? text : "";
    size_t start = 0;
    while (start < list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos)
            comma = list.size();
        FaultItem item{0, nullptr, 0};
        if (!ParseFault(list.substr(start, comma - start), &item, error))
            return false;
        items.push_back(item);
        start = comma + 1;
    }
    for (const FaultItem& item : items) {
        if (item.kind->argument == SECONDS)
            SetTimedFault(item.number, item.kind->timed, item.value);
        else
            SetLineFault(item.number, item.kind->line, (DWORD)item.value);
    }
    return true;
}

} // namespace Sim
