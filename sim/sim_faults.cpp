// Line faults of the simulated adapter, for burn-in runs.
#include "sim/sim_internal.h"

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

struct FaultName {
    const char* name;
    LineFault fault;
};

static const FaultName FaultNames[] = {{"corrupt", FAULT_CORRUPT},
                                       {"drop", FAULT_DROP},
                                       {"frame", FAULT_FRAME},
                                       {"pulled", FAULT_PULLED}};

// One "COMn=kind[:every]" item; fills number, fault and every.
static bool ParseFault(const std::string& item, int* number, LineFault* fault, DWORD* every,
                       std::string* error)
{
    size_t equals = item.find('=');
    char* end = nullptr;
    if (equals == std::string::npos || _strnicmp(item.c_str(), "COM", 3) != 0) {
        *error = "\"" + item + "\" is not COMn=fault";
        return false;
    }
    *number = (int)strtol(item.c_str() + 3, &end, 10);
    if (end != item.c_str() + equals || !FindPort(*number)) {
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
        *fault = name.fault;
        long value = count.empty() ? 0 : strtol(count.c_str(), &end, 10);
        bool needsCount = name.fault != FAULT_PULLED;
        if (needsCount ? (count.empty() || *end || value < 1) : !count.empty()) {
            *error = "\"" + item + "\": " +
                     (needsCount ? "give one byte in how many, e.g. " + kind + ":20000"
                                 : kind + " takes no count");
            return false;
        }
        *every = (DWORD)value;
        return true;
    }
    *error = "\"" + kind + "\" is not a fault (corrupt, drop, frame, pulled)";
    return false;
}

bool ApplyFaultList(const char* text, std::string* error)
{
    struct Item {
        int number;
        LineFault fault;
        DWORD every;
    };
    std::vector<Item> items;
    std::string list = text ? text : "";
    size_t start = 0;
    while (start < list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos)
            comma = list.size();
        Item item{0, FAULT_NONE, 0};
        if (!ParseFault(list.substr(start, comma - start), &item.number, &item.fault, &item.every,
                        error))
            return false;
        items.push_back(item);
        start = comma + 1;
    }
    for (const Item& item : items)
        SetLineFault(item.number, item.fault, item.every);
    return true;
}

} // namespace Sim
