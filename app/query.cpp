#include "app/query.h"

#include "app/capture_query.h"
#include "app/poll.h"
#include "app/run.h"
#include "common/state.h"
#include "port/device.h"
#include "port/port_record.h"

#include <string.h>

static int KnownVersion(uint32_t version)
{
    return version == QUERY_VERSION_1 || version == QUERY_VERSION;
}

static DWORD QueryRequestSize(uint32_t version, uint32_t kind)
{
    if (kind >= QUERY_STATUS && kind <= QUERY_RESET)
        return sizeof(QueryRequest);
    if (kind == QUERY_RUN && version >= QUERY_VERSION)
        return sizeof(QueryRunRequest);
    return 0;
}

uint32_t ParseQueryRequest(const COPYDATASTRUCT* data, QueryRequest* request)
{
    memset(request, 0, sizeof *request);
    if (!data->lpData)
        return QUERY_BAD_SIZE;
    // Never read past what was sent; a short request still names the window
    // that should hear about it when it reaches that far.
    DWORD readable = data->cbData < sizeof *request ? data->cbData : (DWORD)sizeof *request;
    memcpy(request, data->lpData, readable);
    if (request->version == QUERY_VERSION_1 && data->cbData != sizeof *request)
        return QUERY_BAD_SIZE;
    if (data->cbData < QUERY_NAMED_BYTES)
        return QUERY_BAD_SIZE;
    if (!KnownVersion(request->version))
        return QUERY_BAD_VERSION;
    DWORD size = QueryRequestSize(request->version, request->kind);
    if (!size && request->version == QUERY_VERSION)
        size = CaptureRequestSize(request->kind);
    if (!size)
        return QUERY_BAD_KIND;
    if (data->cbData != size)
        return QUERY_BAD_SIZE;
    if (request->kind == QUERY_RUN) {
        QueryRunRequest run;
        memcpy(&run, request, sizeof run);
        return CheckRunRequest(run);
    }
    if (!memchr(request->port, 0, sizeof request->port))
        return QUERY_BAD_NAME;
    if (request->kind == QUERY_SCREEN && !FindOpenPort(request->port))
        return QUERY_NO_PORT;
    if (request->kind == QUERY_RESET && request->port[0] && !FindOpenPort(request->port))
        return QUERY_NO_PORT;
    if (CaptureRequestSize(request->kind))
        return ParseCaptureRequest(data);
    return QUERY_OK;
}

static void FillPortStatus(QueryPortStatus* out, const PortRecord* port)
{
    const PortCounters& counters = port->counters;
    memset(out, 0, sizeof *out);
    strncpy(out->name, port->name, sizeof out->name - 1);
    out->bytesSent = counters.bytesSent;
    out->bytesReceived = counters.bytesReceived;
    out->verified = counters.pattern.verified;
    out->patternErrors = counters.pattern.errors;
    out->unsynced = counters.pattern.unsynced;
    memcpy(out->lineErrors, counters.lineErrors, sizeof out->lineErrors);
    out->holdFlags = HoldFlags(port->lineStatus);
    out->inQueue = port->lineStatus.cbInQue;
    out->outQueue = port->lineStatus.cbOutQue;
    out->inputSignals = port->inputSignals;
    out->outputSignals = port->outputSignals;
    const DCB& dcb = port->dcb;
    out->baudRate = dcb.BaudRate;
    out->dataBits = dcb.ByteSize;
    out->parity = dcb.Parity;
    out->stopBits = dcb.StopBits;
    out->rtsControl = (uint8_t)dcb.fRtsControl;
    out->dtrControl = (uint8_t)dcb.fDtrControl;
    out->flowFlags =
        (uint8_t)((dcb.fOutX ? QUERY_FLOW_XONXOFF_TX : 0) | (dcb.fInX ? QUERY_FLOW_XONXOFF_RX : 0) |
                  (dcb.fOutxCtsFlow ? QUERY_FLOW_CTS : 0) |
                  (dcb.fOutxDsrFlow ? QUERY_FLOW_DSR : 0));
    out->loopbackCapable = (uint8_t)(port->loopbackCapable != 0);
    out->modemStatusFailing = (uint8_t)((port->failingSites & FAILING_MODEM_STATUS) != 0);
}

static void FillPortStatus2(QueryPortStatus2* out, const PortRecord* port, ULONGLONG now)
{
    memset(out, 0, sizeof *out);
    FillPortStatus(&out->base, port);
    const PortRun& run = port->run;
    out->lineSent = RunLineSent(port);
    out->capacity = RunCapacity(port, now);
    out->runStartClockMs = run.startClock;
    out->runFlags = (run.inRun ? QUERY_RUN_IN : 0) | (run.sending ? QUERY_RUN_SENDING : 0);
    out->interference = run.interference;
    out->longestStallMs = run.longestStallMs;
    out->stallFromMs = run.stallFromMs;
    out->holdFlagsSeen = run.holdFlagsSeen;
    out->longestHoldMs = run.longestHoldMs;
    out->holdFromMs = run.holdFromMs;
    out->boxes = run.boxes;
    out->lastBoxClockMs = port->lastBoxClock;
    static_assert(sizeof out->lastBox == sizeof port->lastBox, "box text sizes");
    memcpy(out->lastBox, port->lastBox, sizeof out->lastBox);
    out->lastBox[sizeof out->lastBox - 1] = 0;
    const PatternCheck& check = port->counters.pattern;
    for (uint64_t i = 0; i < check.errors && i < QUERY_FIRST_ERRORS; i++) {
        out->firstErrors[i].offset = check.first[i].offset;
        out->firstErrors[i].clockMs = check.first[i].clockMs;
        out->firstErrors[i].expected = check.first[i].expected;
        out->firstErrors[i].received = check.first[i].received;
    }
}

static DWORD CountOpenPorts()
{
    DWORD count = 0;
    for (PortRecord* p = PortListHead; p; p = p->next)
        count++;
    return count;
}

static DWORD ResetCounters(const char* name)
{
    DWORD count = 0;
    for (PortRecord* p = PortListHead; p; p = p->next)
        if (!name[0] || lstrcmpiA(p->name, name) == 0) {
            NoteRunInterference(p, RUN_COUNTERS_RESET);
            ResetPortCounters(p);
            count++;
        }
    return count;
}

char* BuildQueryReply(const QueryRequest& request, uint32_t status, DWORD* size)
{
    // Unreadable or unknown versions are answered in the first one.
    uint32_t version =
        status == QUERY_OK || KnownVersion(request.version) ? request.version : QUERY_VERSION_1;
    if (status == QUERY_BAD_SIZE)
        version = QUERY_VERSION_1;
    QueryReplyHeader2 full;
    memset(&full, 0, sizeof full);
    QueryReplyHeader& header = full.head;
    header.version = version;
    header.kind = status == QUERY_BAD_SIZE ? 0 : request.kind;
    header.status = status;
    header.testDataOn = TestDataOn ? 1 : 0;
    ULONGLONG now = Device.GetTickCount64();
    if (status == QUERY_OK && request.kind == QUERY_STATUS) {
        header.count = CountOpenPorts();
        header.recordSize =
            version == QUERY_VERSION_1 ? sizeof(QueryPortStatus) : sizeof(QueryPortStatus2);
    } else if (status == QUERY_OK && request.kind == QUERY_SCREEN) {
        header.count = QUERY_SCREEN_LINES;
        header.recordSize = QUERY_SCREEN_LINE_BYTES;
    } else if (status == QUERY_OK && request.kind == QUERY_RESET) {
        header.count = ResetCounters(request.port);
    } else if (status == QUERY_OK && request.kind == QUERY_RUN) {
        QueryRunRequest run;
        memcpy(&run, &request, sizeof run);
        header.count = PerformRunRequest(run);
    }
    full.clockMs = now;
    full.pollCount = PollCount;
    FillRunHeader(&full, now);
    DWORD headerSize = version == QUERY_VERSION_1 ? sizeof header : sizeof full;
    DWORD records = header.count * header.recordSize;
    *size = headerSize + records;
    char* reply = new char[*size];
    memcpy(reply, &full, headerSize);
    char* record = reply + headerSize;
    if (status == QUERY_OK && request.kind == QUERY_STATUS) {
        for (PortRecord* p = PortListHead; p; p = p->next, record += header.recordSize) {
            if (version == QUERY_VERSION_1)
                FillPortStatus((QueryPortStatus*)record, p);
            else
                FillPortStatus2((QueryPortStatus2*)record, p, now);
        }
    } else if (status == QUERY_OK && request.kind == QUERY_SCREEN) {
        const PortRecord* port = FindOpenPort(request.port);
        for (int i = 1; i <= QUERY_SCREEN_LINES; i++, record += QUERY_SCREEN_LINE_BYTES) {
            const ScreenLine& line = port->lines[(port->currentLine + i) % SCREEN_LINES];
            memcpy(record, line.text, QUERY_SCREEN_LINE_BYTES);
            record[QUERY_SCREEN_LINE_BYTES - 1] = 0;
        }
    }
    return reply;
}

static int RequestsSincePoll = 0;
static int ReplyDroppedSincePoll = 0;
static uint64_t PollCountSeen = 0;

LRESULT AnswerQuery(HWND frame, const COPYDATASTRUCT* data)
{
    if (!data || data->dwData != QUERY_REQUEST_ID || data->cbData < QUERY_NAMED_BYTES)
        return FALSE;
    QueryRequest request;
    uint32_t status = ParseQueryRequest(data, &request);
    if (!IsWindow((HWND)(UINT_PTR)request.replyWindow))
        return FALSE;
    DWORD size = 0;
    char* reply = CaptureRequestSize(request.kind) ? BuildCaptureReply(data, request, status, &size)
                                                   : BuildQueryReply(request, status, &size);
    COPYDATASTRUCT answer;
    answer.dwData = QUERY_REPLY_ID;
    answer.cbData = size;
    answer.lpData = reply;
    DWORD_PTR result = 0;
    LRESULT delivered =
        SendMessageTimeoutA((HWND)(UINT_PTR)request.replyWindow, WM_COPYDATA, (WPARAM)frame,
                            (LPARAM)&answer, SMTO_BLOCK | SMTO_ABORTIFHUNG, REPLY_WAIT_MS, &result)
            ? TRUE
            : FALSE;
    delete[] reply;
    if (!delivered)
        ReplyDroppedSincePoll = 1;
    return delivered;
}

LRESULT ServeQuery(HWND frame, const COPYDATASTRUCT* data)
{
    if (PollCount != PollCountSeen) {
        PollCountSeen = PollCount;
        RequestsSincePoll = 0;
        ReplyDroppedSincePoll = 0;
    }
    RequestsSincePoll++;
    LRESULT delivered = AnswerQuery(frame, data);
    // Sent messages come before the timer's, so the poll that is due runs
    // here, once the client has been let go: a box the poll raises must not
    // hold the client that would answer it.
    if (RequestsSincePoll >= REQUESTS_PER_POLL || ReplyDroppedSincePoll ||
        Device.GetTickCount64() - LastPollTime >= POLL_PERIOD_MS) {
        ReplyMessage(delivered);
        PollAllPorts();
        PollCountSeen = PollCount;
        RequestsSincePoll = 0;
        ReplyDroppedSincePoll = 0;
    }
    return delivered;
}
