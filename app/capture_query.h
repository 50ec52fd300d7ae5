// Capture through the query interface, in its version 2 only: start a
// capture of a port into a file, stop captures, list them.
#pragma once
#include "app/query.h"
#include "port/capture.h"

// Request kinds.
#define QUERY_CAPTURE_START 16 // a QueryCaptureRequest; the reply has one QueryCaptureStatus
#define QUERY_CAPTURE_STOP                                                                         \
    17 // a QueryRequest (port empty: every port); a record per capture stopped
#define QUERY_CAPTURE_LIST 18 // a QueryRequest (port empty: every port); a record per capture

// Reply statuses.
#define QUERY_CAPTURE_BAD_PATH 16  // empty, not terminated, not absolute, or a device
#define QUERY_CAPTURE_BAD_FORM 17  // unknown form or flags, append with replace, reserved not 0
#define QUERY_CAPTURE_SAME_FILE 18 // another capture writes that file
#define QUERY_CAPTURE_BUSY 19      // the port captures already
#define QUERY_CAPTURE_REFUSED 20   // the system refused the file: the record's error says why
#define QUERY_CAPTURE_NONE 21      // the port does not capture

#define QUERY_PATH_BYTES 260 // MAX_PATH

struct QueryCaptureRequest {
    uint32_t version; // QUERY_VERSION
    uint32_t kind;    // QUERY_CAPTURE_START
    uint64_t replyWindow;
    char port[QUERY_NAME_BYTES];
    uint32_t form;               // CAPTURE_RAW, CAPTURE_AS_SHOWN, CAPTURE_TIMESTAMPS
    uint32_t flags;              // CAPTURE_APPEND or CAPTURE_REPLACE, or neither
    char path[QUERY_PATH_BYTES]; // absolute, terminated, in the ANSI code page, not a device
    uint32_t reserved;           // 0
};

struct QueryCaptureStatus {
    uint64_t bytesCaptured; // bytes handed to the file since the capture started
    uint64_t bytesWritten;  // bytes the file took
    char port[QUERY_NAME_BYTES];
    char path[QUERY_PATH_BYTES];
    uint32_t form;
    uint32_t state; // CAPTURE_RUNNING, CAPTURE_FAILED, CAPTURE_FINISHING
    uint32_t error; // the system's code of the failure, or 0
};

static_assert(sizeof(QueryCaptureRequest) == 312, "capture request layout");
static_assert(sizeof(QueryCaptureStatus) == 312, "capture record layout");

inline const char* CaptureStatusText(uint32_t status)
{
    switch (status) {
    case QUERY_CAPTURE_BAD_PATH:
        return "the path is empty, not terminated, not absolute, or names a device";
    case QUERY_CAPTURE_BAD_FORM:
        return "unknown form or flags";
    case QUERY_CAPTURE_SAME_FILE:
        return "another capture writes that file";
    case QUERY_CAPTURE_BUSY:
        return "the port captures already";
    case QUERY_CAPTURE_REFUSED:
        return "the file cannot be opened";
    case QUERY_CAPTURE_NONE:
        return "the port does not capture";
    }
    return QueryStatusText(status);
}

inline const char* CaptureFormName(uint32_t form)
{
    static const char* const names[CAPTURE_FORMS] = {"raw", "as-shown", "timestamps"};
    return form < CAPTURE_FORMS ? names[form] : "?";
}

// The program's side, called where the query interface dispatches on kind.
// The size of a capture request of the kind, 0 for other kinds.
DWORD CaptureRequestSize(uint32_t kind);
// The checks of a capture request beyond those every request gets.
uint32_t ParseCaptureRequest(const COPYDATASTRUCT* data);
// Carries the request out and builds its reply; freed with `delete[]`.
char* BuildCaptureReply(const COPYDATASTRUCT* data, const QueryRequest& request, uint32_t status,
                        DWORD* size);
