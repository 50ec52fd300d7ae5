// The query interface: another program reads the per-port counters and
// screens, or resets the counters, by sending WM_COPYDATA to the frame window
// (class VantFrame). The request names a window of the caller; the reply is a
// WM_COPYDATA sent back to that window before the request returns, or dropped
// when that window does not take it within REPLY_WAIT_MS. Every field has a
// fixed width, so the layout is the same for any compiler.
#pragma once
#include "port/line_errors.h"

#include <stdint.h>
#include <windows.h>

#define QUERY_REQUEST_ID 0x54574B51 // dwData of a request ("QKWT" in memory)
#define QUERY_REPLY_ID 0x54574B52   // dwData of a reply
#define QUERY_VERSION_1 1
#define QUERY_VERSION 2 // replies carry QueryReplyHeader2
// A reply not taken within this is dropped, so that no client holds the poll.
#define REPLY_WAIT_MS 60
// Requests answered back to back before the poll that is due runs first.
#define REQUESTS_PER_POLL 4

// Request kinds.
#define QUERY_STATUS 1 // one QueryPortStatus per open port, newest port first
#define QUERY_SCREEN 2 // the port's screen lines, oldest first, current line last
#define QUERY_RESET 3  // zero the counters of the named port, or of every port
#define QUERY_RUN 4    // version 2: a phase of a burn-in run on a range of ports (QueryRunRequest)

// Phases of a run.
#define RUN_JOIN 1  // the ports stop sending and join the run
#define RUN_SEND 2  // counters zeroed, the run's test data on, its clock started
#define RUN_STOP 3  // test data off; what the verdicts need is kept as it is now
#define RUN_LEAVE 4 // the ports follow Send Test Data again

// Reply status.
#define QUERY_OK 0
#define QUERY_BAD_SIZE 1    // the request is not exactly the size of its kind
#define QUERY_BAD_VERSION 2 // a version this program does not speak
#define QUERY_BAD_KIND 3
#define QUERY_BAD_NAME 4 // the port name is not terminated within its field
#define QUERY_NO_PORT 5  // no open port of that name
#define QUERY_RUN_BUSY 6 // another client's burn-in holds ports
#define QUERY_BAD_RUN 7  // an unknown phase, or a range past COM255

#define QUERY_NAME_BYTES 24
#define QUERY_SCREEN_LINES 35
#define QUERY_SCREEN_LINE_BYTES 82 // each line a terminated string

struct QueryRequest {
    uint32_t version;
    uint32_t kind;
    uint64_t replyWindow;        // the caller's window handle, widened
    char port[QUERY_NAME_BYTES]; // SCREEN: required; RESET: empty means every port
};

// A request shorter than this does not name its reply window in full and
// gets no reply.
#define QUERY_NAMED_BYTES 16

struct QueryRunRequest {
    uint32_t version;
    uint32_t kind;
    uint64_t replyWindow;
    uint32_t first; // COMfirst to COMfirst+count-1, every one open
    uint32_t count;
    uint32_t phase;
    uint32_t owner; // the client's process id; its run ends if it dies
};

struct QueryReplyHeader {
    uint32_t version;
    uint32_t kind;   // the kind requested, 0 when the request could not be read
    uint32_t status; // QUERY_OK or one of the errors above
    uint32_t count;  // records after the header
    uint32_t recordSize;
    uint32_t testDataOn;
};

// What a version 2 reply starts with.
struct QueryReplyHeader2 {
    QueryReplyHeader head;
    uint64_t clockMs;         // the program's clock when the reply was made
    uint64_t pollCount;       // polls run since start-up
    uint64_t pollHeldMs;      // time boxes raised inside the poll held it, in all
    uint64_t runStartClockMs; // when the run's sending began, 0 when there is no run
    uint64_t runMs;           // how long it has been sending (or sent)
    uint64_t runPolls;        // polls while it was sending
    uint64_t runHeldMs;       // time the poll was held while it was sending
    uint32_t runLongestGapMs; // the longest gap between two polls meanwhile
    uint32_t runOwner;        // process id of the run's client, 0 when none
};

// flowFlags bits.
#define QUERY_FLOW_XONXOFF_TX 0x01
#define QUERY_FLOW_XONXOFF_RX 0x02
#define QUERY_FLOW_CTS 0x04
#define QUERY_FLOW_DSR 0x08

struct QueryPortStatus {
    char name[QUERY_NAME_BYTES];
    uint64_t bytesSent;                    // accepted by the device since the last reset
    uint64_t bytesReceived;                // read from the device since the last reset
    uint64_t verified;                     // received bytes that matched the test pattern
    uint64_t patternErrors;                // mismatches against the pattern
    uint64_t unsynced;                     // received while not synchronised to the pattern
    uint32_t lineErrors[LINE_ERROR_KINDS]; // in the order of LineErrorMarkers
    uint32_t holdFlags;                    // the first word of COMSTAT
    uint32_t inQueue;
    uint32_t outQueue;
    uint16_t inputSignals;  // CTS 0x10, DSR 0x20, RI 0x40, CD 0x80
    uint16_t outputSignals; // DTR 0x01, RTS 0x02, LOOP 0x04
    uint32_t baudRate;
    uint8_t dataBits;
    uint8_t parity;   // NOPARITY ... SPACEPARITY
    uint8_t stopBits; // ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS
    uint8_t rtsControl;
    uint8_t dtrControl;
    uint8_t flowFlags;
    uint8_t loopbackCapable;
    uint8_t modemStatusFailing; // the modem inputs could not be read
};

#define QUERY_BOX_BYTES 128
#define QUERY_FIRST_ERRORS 8

struct QueryPatternError {
    uint64_t offset;  // of the byte in what the port received since its counters were zeroed
    uint64_t clockMs; // when it was found
    uint8_t expected;
    uint8_t received;
    uint8_t reserved[6];
};

// runFlags bits.
#define QUERY_RUN_IN 0x1
#define QUERY_RUN_SENDING 0x2

// A version 2 status record: version 1's, then what a burn-in verdict needs.
struct QueryPortStatus2 {
    QueryPortStatus base;
    uint64_t lineSent;        // accepted by the driver minus what its queue held, at the last
                              // status read; in a run, kept from when its sending stopped
    uint64_t capacity;        // what Send Test Data could carry in the polls that ran, likewise
    uint64_t runStartClockMs; // when the port's run sending began, 0 when never
    uint32_t runFlags;
    uint32_t interference;   // RUN_COUNTERS_RESET, RUN_SETTINGS_CHANGED, RUN_LOOPBACK_TEST
    uint32_t longestStallMs; // run time in which nothing new was verified, polls running
    uint32_t stallFromMs;    // run time it began
    uint32_t holdFlagsSeen;  // COMSTAT hold bits seen while sending
    uint32_t longestHoldMs;  // the longest stretch the output was held
    uint32_t holdFromMs;     // run time it began
    uint32_t boxes;          // boxes the port raised while its run was sending
    uint64_t lastBoxClockMs; // the last box the port raised from the poll, ever
    char lastBox[QUERY_BOX_BYTES];
    QueryPatternError firstErrors[QUERY_FIRST_ERRORS]; // the first of patternErrors
};

static_assert(sizeof(QueryRequest) == 40, "request layout");
static_assert(sizeof(QueryRunRequest) == 32, "run request layout");
static_assert(sizeof(QueryRunRequest) <= sizeof(QueryRequest), "a run request fits the buffer");
static_assert(sizeof(QueryPortStatus2) == 520, "version 2 status record layout");
static_assert(sizeof(QueryReplyHeader2) == 88, "version 2 reply header layout");
static_assert(sizeof(QueryReplyHeader) == 24, "reply header layout");
static_assert(sizeof(QueryPortStatus) == 136, "status record layout");

inline const char* QueryStatusText(uint32_t status)
{
    switch (status) {
    case QUERY_OK:
        return "ok";
    case QUERY_BAD_SIZE:
        return "request of the wrong size";
    case QUERY_BAD_VERSION:
        return "unknown request version";
    case QUERY_BAD_KIND:
        return "unknown request kind";
    case QUERY_BAD_NAME:
        return "port name not terminated";
    case QUERY_NO_PORT:
        return "no such port open";
    case QUERY_RUN_BUSY:
        return "another burn-in is running";
    case QUERY_BAD_RUN:
        return "unknown run phase or range";
    }
    return "unknown reply status";
}

// The program's side.
uint32_t ParseQueryRequest(const COPYDATASTRUCT* data, QueryRequest* request);
// Builds the reply to a request read with the given status; the caller
// frees it with `delete[]`.
char* BuildQueryReply(const QueryRequest& request, uint32_t status, DWORD* size);
// TRUE when the reply was delivered.
LRESULT AnswerQuery(HWND frame, const COPYDATASTRUCT* data);
// AnswerQuery for the frame window, which then runs the poll when it is due:
// a flood of requests or reply windows that never answer cannot stop it.
LRESULT ServeQuery(HWND frame, const COPYDATASTRUCT* data);
