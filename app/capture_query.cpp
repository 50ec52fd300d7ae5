#include "app/capture_query.h"

#include "port/port_record.h"

#include <string.h>

DWORD CaptureRequestSize(uint32_t kind)
{
    switch (kind) {
    case QUERY_CAPTURE_START:
        return sizeof(QueryCaptureRequest);
    case QUERY_CAPTURE_STOP:
    case QUERY_CAPTURE_LIST:
        return sizeof(QueryRequest);
    }
    return 0;
}

// The program's working folder means nothing to the user: tarnwickctl
// resolves a path before sending it. A name such as COM5.bin is the device
// COM5 wherever it stands, and the system's full form of it says so.
static int IsFilePath(const char* path)
{
    int drive = ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':' &&
                (path[2] == '\\' || path[2] == '/');
    if (!drive && !(path[0] == '\\' && path[1] == '\\'))
        return 0;
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(path, sizeof full, full, nullptr);
    return length && length < sizeof full && strncmp(full, "\\\\.\\", 4) != 0 &&
           strncmp(full, "\\\\?\\", 4) != 0;
}

uint32_t ParseCaptureRequest(const COPYDATASTRUCT* data)
{
    QueryCaptureRequest request;
    memcpy(&request, data->lpData, sizeof request < data->cbData ? sizeof request : data->cbData);
    if (request.kind != QUERY_CAPTURE_START)
        return QUERY_OK;
    if (!FindOpenPort(request.port))
        return QUERY_NO_PORT;
    if (request.form >= CAPTURE_FORMS || (request.flags & ~(CAPTURE_APPEND | CAPTURE_REPLACE)) ||
        request.flags == (CAPTURE_APPEND | CAPTURE_REPLACE) || request.reserved)
        return QUERY_CAPTURE_BAD_FORM;
    if (!memchr(request.path, 0, sizeof request.path) || !IsFilePath(request.path))
        return QUERY_CAPTURE_BAD_PATH;
    return QUERY_OK;
}

static void FillRecord(QueryCaptureStatus* out, const CaptureInfo& info)
{
    memset(out, 0, sizeof *out);
    out->bytesCaptured = info.captured;
    out->bytesWritten = info.written;
    lstrcpynA(out->port, info.port, sizeof out->port);
    lstrcpynA(out->path, info.path, sizeof out->path);
    out->form = (uint32_t)info.form;
    out->state = (uint32_t)info.state;
    out->error = info.error;
}

static uint32_t Start(const COPYDATASTRUCT* data, CaptureInfo* info)
{
    QueryCaptureRequest request;
    memcpy(&request, data->lpData, sizeof request);
    PortRecord* port = FindOpenPort(request.port);
    memset(info, 0, sizeof *info);
    lstrcpynA(info->port, port->name, sizeof info->port);
    lstrcpynA(info->path, request.path, sizeof info->path);
    info->form = (int)request.form;
    switch (StartCapture(port, request.path, (int)request.form, (int)request.flags, &info->error)) {
    case CAPTURE_STARTED:
        info->state = CAPTURE_RUNNING;
        return QUERY_OK;
    case CAPTURE_SAME_FILE:
        return QUERY_CAPTURE_SAME_FILE;
    case CAPTURE_PORT_BUSY:
        return QUERY_CAPTURE_BUSY;
    }
    info->state = CAPTURE_FAILED;
    return QUERY_CAPTURE_REFUSED;
}

char* BuildCaptureReply(const COPYDATASTRUCT* data, const QueryRequest& request, uint32_t status,
                        DWORD* size)
{
    int room = CaptureCount() + 1;
    CaptureInfo* infos = new CaptureInfo[room];
    int count = 0;
    if (status == QUERY_OK && request.kind == QUERY_CAPTURE_START) {
        status = Start(data, infos);
        count = status == QUERY_OK || status == QUERY_CAPTURE_REFUSED;
    } else if (status == QUERY_OK && request.kind == QUERY_CAPTURE_STOP) {
        count = StopCaptures(request.port, infos, room);
        if (!count && request.port[0])
            status = FindOpenPort(request.port) ? QUERY_CAPTURE_NONE : QUERY_NO_PORT;
    } else if (status == QUERY_OK) {
        count = ListCaptures(request.port, infos, room);
    }
    // The header as every reply has it, then the records.
    DWORD headerSize = 0;
    char* header = BuildQueryReply(request, status, &headerSize);
    if (count > room)
        count = room;
    *size = headerSize + (DWORD)count * sizeof(QueryCaptureStatus);
    char* reply = new char[*size];
    memcpy(reply, header, headerSize);
    delete[] header;
    QueryReplyHeader* head = (QueryReplyHeader*)reply;
    head->count = (uint32_t)count;
    head->recordSize = status == QUERY_OK || count ? sizeof(QueryCaptureStatus) : 0;
    for (int i = 0; i < count; i++)
        FillRecord((QueryCaptureStatus*)(reply + headerSize) + i, infos[i]);
    delete[] infos;
    return reply;
}
