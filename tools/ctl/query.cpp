// Reading counters and screens from the running Tarnwick: a WM_COPYDATA
// request to its frame window, answered by a WM_COPYDATA to a message-only
// window of this tool.
#include "tools/ctl/query.h"

#include <algorithm>
#include <stddef.h>
#include <stdio.h>
#include <string.h>

static std::vector<char> ReplyBytes;
static int ReplyArrived = 0;

static LRESULT CALLBACK ReplyWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_COPYDATA)
        return DefWindowProcA(window, message, wParam, lParam);
    const COPYDATASTRUCT* data = (const COPYDATASTRUCT*)lParam;
    if (!data || data->dwData != QUERY_REPLY_ID || !data->lpData)
        return FALSE;
    ReplyBytes.assign((const char*)data->lpData, (const char*)data->lpData + data->cbData);
    ReplyArrived = 1;
    return TRUE;
}

static HWND ReplyWindow()
{
    static HWND window = nullptr;
    if (window)
        return window;
    WNDCLASSA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.lpfnWndProc = ReplyWndProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "VantCtlReply";
    RegisterClassA(&windowClass);
    window = CreateWindowExA(0, windowClass.lpszClassName, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE,
                             nullptr, windowClass.hInstance, nullptr);
    return window;
}

// Sends `size` bytes of `request` (padded with zeros) with `dwData`; answers
// whether a reply came, which is then in ReplyBytes.
static int SendRequest(const Target& target, const void* request, size_t requestSize, DWORD size,
                       ULONG_PTR dwData, int* answered)
{
    std::vector<char> bytes(size, 0);
    memcpy(bytes.data(), request, std::min((size_t)size, requestSize));
    COPYDATASTRUCT data;
    data.dwData = dwData;
    data.cbData = size;
    data.lpData = bytes.data();
    ReplyArrived = 0;
    DWORD_PTR result = 0;
    *answered = SendMessageTimeoutA(target.frame, WM_COPYDATA, (WPARAM)ReplyWindow(), (LPARAM)&data,
                                    SMTO_NORMAL, ANSWER_TIMEOUT_MS, &result) != 0;
    return ReplyArrived;
}

static int MakeRequest(uint32_t kind, const char* port, QueryRequest* request)
{
    memset(request, 0, sizeof *request);
    request->version = QUERY_VERSION;
    request->kind = kind;
    HWND window = ReplyWindow();
    if (!window)
        return Fail("could not create a window for Tarnwick's answer");
    request->replyWindow = (uint64_t)(UINT_PTR)window;
    if (port && strlen(port) >= sizeof request->port)
        return Fail("%s is not a port name", port);
    if (port)
        strcpy(request->port, port);
    return EXIT_OK;
}

static size_t RecordSize(uint32_t kind)
{
    return kind == QUERY_STATUS   ? sizeof(QueryPortStatus2)
           : kind == QUERY_SCREEN ? QUERY_SCREEN_LINE_BYTES
                                  : 0;
}

// A reply that the program could not deliver at once is dropped; a busy
// machine can miss the moment, so a request that changes nothing is simply
// sent again (`attempts` times in all).
int ExchangeQuery(const Target& target, void* request, DWORD size, int attempts,
                  std::vector<char>* reply)
{
    uint64_t window = (uint64_t)(UINT_PTR)ReplyWindow();
    if (!window)
        return Fail("could not create a window for Tarnwick's answer");
    memcpy((char*)request + offsetof(QueryRequest, replyWindow), &window, sizeof window);
    int arrived = 0, answered = 0;
    for (int attempt = 0; attempt < attempts && !arrived; attempt++)
        arrived = SendRequest(target, request, size, size, QUERY_REQUEST_ID, &answered);
    if (!arrived && !answered)
        return Fail("Tarnwick did not answer the query within %d ms", ANSWER_TIMEOUT_MS);
    if (!arrived)
        return Fail("Tarnwick's reply did not arrive");
    *reply = ReplyBytes;
    return EXIT_OK;
}

static int Exchange(const Target& target, void* request, DWORD size, uint32_t kind, int attempts,
                    QueryReplyHeader2* header, std::vector<char>* records)
{
    std::vector<char> reply;
    if (ExchangeQuery(target, request, size, attempts, &reply) != EXIT_OK)
        return EXIT_FAILED;
    if (reply.size() < sizeof header->head)
        return Fail("Tarnwick's reply is too short");
    memcpy(&header->head, reply.data(), sizeof header->head);
    if (header->head.version != QUERY_VERSION)
        return Fail("Tarnwick answers in query version %u; this tool speaks %d",
                    header->head.version, QUERY_VERSION);
    if (reply.size() < sizeof *header)
        return Fail("Tarnwick's reply is too short");
    memcpy(header, reply.data(), sizeof *header);
    if (header->head.status != QUERY_OK)
        return Fail("Tarnwick refused the query: %s", QueryStatusText(header->head.status));
    size_t body = reply.size() - sizeof *header;
    if (header->head.kind != kind || header->head.recordSize != RecordSize(kind) ||
        (uint64_t)header->head.count * header->head.recordSize != body)
        return Fail("Tarnwick's reply does not have the expected layout");
    records->assign(reply.begin() + sizeof *header, reply.end());
    return EXIT_OK;
}

int Query(const Target& target, uint32_t kind, const char* port, QueryReplyHeader2* header,
          std::vector<char>* records)
{
    QueryRequest request;
    if (MakeRequest(kind, port, &request) != EXIT_OK)
        return EXIT_FAILED;
    int attempts = kind == QUERY_RESET ? 1 : QUERY_ATTEMPTS;
    return Exchange(target, &request, sizeof request, kind, attempts, header, records);
}

int RunPhase(const Target& target, long first, long count, uint32_t phase, uint32_t* touched)
{
    QueryRequest basic;
    if (MakeRequest(QUERY_RUN, nullptr, &basic) != EXIT_OK)
        return EXIT_FAILED;
    QueryRunRequest request = {QUERY_VERSION,   QUERY_RUN, basic.replyWindow,    (uint32_t)first,
                               (uint32_t)count, phase,     GetCurrentProcessId()};
    QueryReplyHeader2 header;
    std::vector<char> none;
    // Each phase leaves the run as it says, so sending one again is harmless.
    int status =
        Exchange(target, &request, sizeof request, QUERY_RUN, QUERY_ATTEMPTS, &header, &none);
    if (touched)
        *touched = header.head.count;
    return status;
}

int QueryStatus2(const Target& target, QueryReplyHeader2* header, std::vector<char>* records)
{
    return Query(target, QUERY_STATUS, nullptr, header, records);
}

int SendRawRequest(const Target& target, int argc, char** argv)
{
    long size = 0, id = QUERY_REQUEST_ID;
    if (argc < 1 || argc > 2 || !ParseNumber(argv[0], &size) || size < 0 ||
        size > RAW_REQUEST_LIMIT || (argc == 2 && !ParseNumber(argv[1], &id)))
        return UsageError("request takes a size in bytes (up to %d) and optionally a dwData",
                          RAW_REQUEST_LIMIT);
    QueryRequest request;
    if (MakeRequest(QUERY_STATUS, "", &request) != EXIT_OK)
        return EXIT_FAILED;
    int answered = 0;
    if (SendRequest(target, &request, sizeof request, (DWORD)size, (ULONG_PTR)id, &answered)) {
        QueryReplyHeader head;
        memset(&head, 0, sizeof head);
        memcpy(&head, ReplyBytes.data(), std::min(ReplyBytes.size(), sizeof head));
        printf("status %u\n", head.status);
    } else {
        printf("no reply\n");
    }
    return EXIT_OK;
}

int WaitForPolls(const Target& target, int argc, char** argv)
{
    long wanted = 0;
    if (argc != 1 || !ParseNumber(argv[0], &wanted) || wanted < 1)
        return UsageError("wait-polls takes a number of polls");
    QueryReplyHeader2 header;
    std::vector<char> records;
    int status = Query(target, QUERY_STATUS, nullptr, &header, &records);
    uint64_t until = header.pollCount + (uint64_t)wanted;
    for (long waited = 0; status == EXIT_OK && header.pollCount < until; waited += WAIT_STEP_MS) {
        if (waited > APPEAR_TIMEOUT_MS + wanted * 100)
            return Fail("Tarnwick polled %llu times, not %ld, in %ld ms",
                        (unsigned long long)(header.pollCount + wanted - until), wanted, waited);
        Sleep(WAIT_STEP_MS);
        status = Query(target, QUERY_STATUS, nullptr, &header, &records);
    }
    return status;
}

int QueryStatus(const Target& target, std::vector<QueryPortStatus>* ports, int* testDataOn)
{
    QueryReplyHeader2 header;
    std::vector<char> records;
    int status = Query(target, QUERY_STATUS, nullptr, &header, &records);
    if (status != EXIT_OK)
        return status;
    ports->resize(header.head.count);
    for (uint32_t i = 0; i < header.head.count; i++) {
        memcpy(&(*ports)[i], records.data() + (size_t)i * sizeof(QueryPortStatus2),
               sizeof(QueryPortStatus));
        (*ports)[i].name[sizeof(*ports)[i].name - 1] = 0;
    }
    std::sort(ports->begin(), ports->end(), [](const QueryPortStatus& a, const QueryPortStatus& b) {
        return PortNumber(a.name) < PortNumber(b.name);
    });
    if (testDataOn)
        *testDataOn = (int)header.head.testDataOn;
    return EXIT_OK;
}

std::string LineSettingsText(const QueryPortStatus& port)
{
    static const char parities[] = "NOEMS";
    static const char* const stops[] = {"1", "1.5", "2"};
    char text[64];
    snprintf(text, sizeof text, "%u %u%c%s", port.baudRate, port.dataBits,
             port.parity < 5 ? parities[port.parity] : '?',
             port.stopBits < 3 ? stops[port.stopBits] : "?");
    std::string result = text;
    static const char* const flows[] = {" xon-tx", " xon-rx", " cts", " dsr"};
    for (int bit = 0; bit < 4; bit++)
        if (port.flowFlags & (1 << bit))
            result += flows[bit];
    return result;
}

uint32_t LineErrorTotal(const QueryPortStatus& port)
{
    uint32_t total = 0;
    for (uint32_t count : port.lineErrors)
        total += count;
    return total;
}

// "<ERR:FRAME>" gives FRAME.
static std::string KindName(int kind)
{
    std::string marker = LineErrorMarkers[kind].marker;
    return marker.substr(5, marker.size() - 6);
}

std::string LineErrorsText(const QueryPortStatus& port)
{
    std::string text;
    for (int kind = 0; kind < LINE_ERROR_KINDS; kind++) {
        if (!port.lineErrors[kind])
            continue;
        text += (text.empty() ? "" : ", ") + KindName(kind) + " " +
                std::to_string(port.lineErrors[kind]);
    }
    return text;
}

static std::string SignalsText(const QueryPortStatus& port)
{
    static const struct {
        unsigned bit;
        int output;
        const char* name;
    } lamps[] = {{0x10, 0, "CTS"}, {0x20, 0, "DSR"}, {0x80, 0, "CD"},  {0x40, 0, "RI"},
                 {0x02, 1, "RTS"}, {0x01, 1, "DTR"}, {0x04, 1, "LOOP"}};
    std::string text;
    for (const auto& lamp : lamps)
        if ((lamp.output ? port.outputSignals : port.inputSignals) & lamp.bit)
            text += (text.empty() ? "" : ",") + std::string(lamp.name);
    return text.empty() ? "-" : text;
}

static void PrintJson(const std::vector<QueryPortStatus>& ports, int testDataOn)
{
    printf("{\"testDataOn\": %s, \"ports\": [", testDataOn ? "true" : "false");
    for (size_t i = 0; i < ports.size(); i++) {
        const QueryPortStatus& p = ports[i];
        printf("%s\n  {\"name\": \"%s\", \"bytesSent\": %llu, \"bytesReceived\": %llu, "
               "\"verified\": %llu, \"patternErrors\": %llu, \"unsynced\": %llu, \"lineErrors\": {",
               i ? "," : "", p.name, (unsigned long long)p.bytesSent,
               (unsigned long long)p.bytesReceived, (unsigned long long)p.verified,
               (unsigned long long)p.patternErrors, (unsigned long long)p.unsynced);
        for (int kind = 0; kind < LINE_ERROR_KINDS; kind++)
            printf("%s\"%s\": %u", kind ? ", " : "", KindName(kind).c_str(), p.lineErrors[kind]);
        printf("}, \"inputSignals\": %u, \"outputSignals\": %u, \"holdFlags\": %u, "
               "\"inQueue\": %u, \"outQueue\": %u, \"baudRate\": %u, \"dataBits\": %u, "
               "\"parity\": %u, \"stopBits\": %u, \"rtsControl\": %u, \"dtrControl\": %u, "
               "\"flowFlags\": %u, \"loopbackCapable\": %s, \"modemStatusFailing\": %s}",
               p.inputSignals, p.outputSignals, p.holdFlags, p.inQueue, p.outQueue, p.baudRate,
               p.dataBits, p.parity, p.stopBits, p.rtsControl, p.dtrControl, p.flowFlags,
               p.loopbackCapable ? "true" : "false", p.modemStatusFailing ? "true" : "false");
    }
    printf("\n]");
}

int PrintStatus(const Target& target, int argc, char** argv)
{
    int json = argc == 1 && strcmp(argv[0], "--json") == 0;
    if (argc > 1 || (argc == 1 && !json))
        return UsageError("status takes only --json");
    std::vector<QueryPortStatus> ports;
    int testDataOn = 0;
    int status = QueryStatus(target, &ports, &testDataOn);
    if (status != EXIT_OK)
        return status;
    if (json) {
        PrintJson(ports, testDataOn);
        PrintCaptureSection(target, json);
        printf("}\n");
        return EXIT_OK;
    }
    printf("%-7s %-18s %12s %12s %12s %8s %10s %8s %-22s %s\n", "PORT", "SETTINGS", "SENT",
           "RECEIVED", "VERIFIED", "PAT-ERR", "UNSYNCED", "LINE-ERR", "SIGNALS", "HOLDS");
    for (const QueryPortStatus& p : ports)
        printf("%-7s %-18s %12llu %12llu %12llu %8llu %10llu %8u %-22s %#x\n", p.name,
               LineSettingsText(p).c_str(), (unsigned long long)p.bytesSent,
               (unsigned long long)p.bytesReceived, (unsigned long long)p.verified,
               (unsigned long long)p.patternErrors, (unsigned long long)p.unsynced,
               LineErrorTotal(p), SignalsText(p).c_str(), p.holdFlags);
    printf("%zu ports open, Send Test Data %s\n", ports.size(), testDataOn ? "on" : "off");
    return PrintCaptureSection(target, json);
}

int PrintScreen(const Target& target, int argc, char** argv)
{
    if (argc != 1)
        return UsageError("screen takes one port name, e.g. screen COM5");
    QueryReplyHeader2 header;
    std::vector<char> lines;
    int status = Query(target, QUERY_SCREEN, argv[0], &header, &lines);
    if (status != EXIT_OK)
        return status;
    for (uint32_t i = 0; i < header.head.count; i++) {
        char* line = lines.data() + i * QUERY_SCREEN_LINE_BYTES;
        line[QUERY_SCREEN_LINE_BYTES - 1] = 0;
        printf("%s\n", line);
    }
    return EXIT_OK;
}

int ResetCounters(const Target& target, int argc, char** argv)
{
    if (argc > 1)
        return UsageError("reset-counters takes at most one port name");
    QueryReplyHeader2 header;
    std::vector<char> none;
    int status = Query(target, QUERY_RESET, argc ? argv[0] : "", &header, &none);
    if (status == EXIT_OK)
        printf("counters of %u port%s reset\n", header.head.count,
               header.head.count == 1 ? "" : "s");
    return status;
}
