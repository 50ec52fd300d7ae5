// capture: Tarnwick keeps what ports receive in files (app/capture_query.h);
// this starts and stops it and shows it in status. Paths are the user's own:
// resolved here against this tool's working folder before they are sent.
#include "app/capture_query.h"
#include "tools/ctl/ctl.h"
#include "tools/ctl/query.h"

#include <algorithm>
#include <shellapi.h>
#include <stdio.h>
#include <string.h>

#define FINISH_WAIT_MS 30000

struct CaptureCommand {
    int stop;
    const char* port; // COMn, or null for a run
    long first, count;
    std::string path; // the file, or the folder of a run
    uint32_t form, flags;
};

std::string SystemReason(DWORD code)
{
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text, sizeof text, nullptr);
    while (length && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                      text[length - 1] == ' ' || text[length - 1] == '.'))
        text[--length] = 0;
    return (length ? std::string(text) + " " : "") + "(error " + std::to_string(code) + ")";
}

// The path as typed, taken from the wide command line: the 8-bit arguments
// have already lost what the ANSI code page cannot hold.
static int ResolvePath(const char* typed, int index, std::string* path)
{
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::wstring argument;
    if (wide && index < count)
        argument = wide[index];
    LocalFree(wide);
    if (!typed[0] || argument.empty())
        return UsageError("capture: the path is empty");
    static wchar_t full[32768];
    DWORD length = GetFullPathNameW(argument.c_str(), 32768, full, nullptr);
    if (!length || length >= 32768)
        return UsageError("capture: %s is not a path: %s", typed,
                          SystemReason(GetLastError()).c_str());
    if (length >= MAX_PATH)
        return UsageError("capture: %s is longer than MAX_PATH (%d characters) once resolved",
                          typed, MAX_PATH - 1);
    if (wcsncmp(full, L"\\\\.\\", 4) == 0 || wcsncmp(full, L"\\\\?\\", 4) == 0)
        return UsageError("capture: %s names a device (such as COM5 or NUL, whatever follows "
                          "the dot), not a file",
                          typed);
    char ansi[MAX_PATH * 2];
    BOOL lost = FALSE;
    int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, full, -1, ansi, sizeof ansi,
                                    nullptr, &lost);
    if (!bytes || lost)
        return UsageError("capture: %s cannot be written in the ANSI code page (%u) that "
                          "Tarnwick's paths use",
                          typed, GetACP());
    if (bytes > MAX_PATH)
        return UsageError("capture: %s is longer than MAX_PATH (%d bytes) once resolved", typed,
                          MAX_PATH - 1);
    *path = ansi;
    return EXIT_OK;
}

static int ParseCapture(int argc, char** argv, int firstIndex, CaptureCommand* command)
{
    *command = CaptureCommand{0, nullptr, 0, 0, "", CAPTURE_RAW, 0};
    std::vector<int> words;
    for (int i = 0; i < argc; i++) {
        if (strcmp(argv[i], "--stop") == 0)
            command->stop = 1;
        else if (strcmp(argv[i], "--as-shown") == 0 || strcmp(argv[i], "--timestamps") == 0)
            command->form = command->form       ? CAPTURE_FORMS
                            : argv[i][2] == 'a' ? CAPTURE_AS_SHOWN
                                                : CAPTURE_TIMESTAMPS;
        else if (strcmp(argv[i], "--append") == 0 || strcmp(argv[i], "--force") == 0)
            command->flags |= argv[i][2] == 'a' ? CAPTURE_APPEND : CAPTURE_REPLACE;
        else if (argv[i][0] == '-' && argv[i][1] == '-')
            return UsageError("capture: unknown option %s", argv[i]);
        else
            words.push_back(i);
    }
    if (command->form == CAPTURE_FORMS)
        return UsageError("capture: --as-shown and --timestamps are two forms; give one");
    if (command->flags == (CAPTURE_APPEND | CAPTURE_REPLACE))
        return UsageError("capture: --append and --force exclude each other");
    if (command->stop) {
        if (words.size() > 1 || command->form || command->flags)
            return UsageError("capture --stop takes at most a port name");
        command->port = words.empty() ? "" : argv[words[0]];
        return EXIT_OK;
    }
    if (words.size() == 2 && PortNumber(argv[words[0]])) {
        command->port = argv[words[0]];
    } else if (words.size() != 3 || !ParseNumber(argv[words[0]], &command->first) ||
               !ParseNumber(argv[words[1]], &command->count) || command->first < 1 ||
               command->count < 1 || command->count > 1024) {
        return UsageError("capture wants COMn FILE, or FIRST COUNT FOLDER (count 1 to 1024), "
                          "e.g. capture COM5 com5.bin");
    }
    return ResolvePath(argv[words.back()], firstIndex + words.back(), &command->path);
}

int CheckCaptureArguments(int argc, char** argv, int firstIndex)
{
    CaptureCommand command;
    return ParseCapture(argc, argv, firstIndex, &command);
}

// One capture request; the reply whatever its status, its records checked.
static int CaptureQuery(const Target& target, void* request, DWORD size, int attempts,
                        QueryReplyHeader2* header, std::vector<QueryCaptureStatus>* records)
{
    std::vector<char> reply;
    if (ExchangeQuery(target, request, size, attempts, &reply) != EXIT_OK)
        return EXIT_FAILED;
    memset(header, 0, sizeof *header);
    memcpy(header, reply.data(), std::min(reply.size(), sizeof *header));
    if (header->head.version != QUERY_VERSION || reply.size() < sizeof *header)
        return Fail("Tarnwick answers in query version %u; this tool speaks %d",
                    header->head.version, QUERY_VERSION);
    size_t body = reply.size() - sizeof *header;
    if ((header->head.count && header->head.recordSize != sizeof(QueryCaptureStatus)) ||
        (uint64_t)header->head.count * sizeof(QueryCaptureStatus) != body)
        return Fail("Tarnwick's reply does not have the expected layout");
    records->resize(header->head.count);
    if (body)
        memcpy(records->data(), reply.data() + sizeof *header, body);
    for (QueryCaptureStatus& r : *records) {
        r.port[sizeof r.port - 1] = 0;
        r.path[sizeof r.path - 1] = 0;
    }
    return EXIT_OK;
}

static int SimpleCaptureQuery(const Target& target, uint32_t kind, const char* port,
                              QueryReplyHeader2* header, std::vector<QueryCaptureStatus>* records)
{
    QueryRequest request;
    memset(&request, 0, sizeof request);
    request.version = QUERY_VERSION;
    request.kind = kind;
    if (strlen(port) >= sizeof request.port)
        return Fail("%s is not a port name", port);
    strcpy(request.port, port);
    // A stop is not sent again: the reply lost would have named what it stopped.
    return CaptureQuery(target, &request, sizeof request, kind == QUERY_CAPTURE_LIST ? 5 : 1,
                        header, records);
}

static int ListAll(const Target& target, std::vector<QueryCaptureStatus>* records)
{
    QueryReplyHeader2 header;
    int status = SimpleCaptureQuery(target, QUERY_CAPTURE_LIST, "", &header, records);
    if (status == EXIT_OK && header.head.status != QUERY_OK)
        return Fail("Tarnwick refused the query: %s", CaptureStatusText(header.head.status));
    return status;
}

static const QueryCaptureStatus* Find(const std::vector<QueryCaptureStatus>& records,
                                      const char* port, const char* path)
{
    for (const QueryCaptureStatus& r : records)
        if (_stricmp(r.port, port) == 0 && (!path || _stricmp(r.path, path) == 0))
            return &r;
    return nullptr;
}

static int StartOne(const Target& target, const char* port, const std::string& path,
                    const CaptureCommand& command)
{
    QueryCaptureRequest request;
    memset(&request, 0, sizeof request);
    request.version = QUERY_VERSION;
    request.kind = QUERY_CAPTURE_START;
    if (strlen(port) >= sizeof request.port)
        return Fail("%s is not a port name", port);
    strcpy(request.port, port);
    request.form = command.form;
    request.flags = command.flags;
    strcpy(request.path, path.c_str());
    QueryReplyHeader2 header;
    std::vector<QueryCaptureStatus> records;
    if (CaptureQuery(target, &request, sizeof request, 1, &header, &records) != EXIT_OK) {
        // The reply may be what was lost.
        std::vector<QueryCaptureStatus> listed;
        const QueryCaptureStatus* found = nullptr;
        if (ListAll(target, &listed) != EXIT_OK ||
            (found = Find(listed, port, path.c_str())) == nullptr ||
            found->state != CAPTURE_RUNNING)
            return EXIT_FAILED;
        header.head.status = QUERY_OK;
    }
    uint32_t status = header.head.status;
    if (status == QUERY_CAPTURE_REFUSED && !records.empty()) {
        DWORD error = records[0].error;
        return Fail("%s: %s: %s%s", port, path.c_str(), SystemReason(error).c_str(),
                    error == ERROR_FILE_EXISTS ? "; --append adds to it, --force replaces it" : "");
    }
    if (status != QUERY_OK)
        return Fail("%s: %s", port, CaptureStatusText(status));
    printf("%s: capturing %s into %s\n", port, CaptureFormName(command.form), path.c_str());
    return EXIT_OK;
}

// Every level of the folder, as a run's files go there.
static int CreateFolder(const std::string& folder)
{
    for (size_t at = folder.find_first_of("\\/", 3); at != std::string::npos;
         at = folder.find_first_of("\\/", at + 1))
        CreateDirectoryA(folder.substr(0, at).c_str(), nullptr);
    if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return Fail("cannot create the folder %s: %s", folder.c_str(),
                    SystemReason(GetLastError()).c_str());
    DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Fail("%s is not a folder", folder.c_str());
    return EXIT_OK;
}

static int StartRun(const Target& target, const CaptureCommand& command)
{
    std::vector<QueryPortStatus> ports;
    int status = QueryStatus(target, &ports, nullptr);
    std::string missing;
    for (long n = command.first; status == EXIT_OK && n < command.first + command.count; n++) {
        int open = 0;
        for (const QueryPortStatus& p : ports)
            open |= PortNumber(p.name) == n;
        if (!open)
            missing += (missing.empty() ? "COM" : ", COM") + std::to_string(n);
    }
    if (status != EXIT_OK)
        return status;
    if (!missing.empty())
        return Fail("not open: %s; nothing captures", missing.c_str());
    if (CreateFolder(command.path) != EXIT_OK)
        return EXIT_FAILED;
    std::string folder = command.path;
    if (folder.back() != '\\' && folder.back() != '/')
        folder += '\\';
    for (long n = command.first; n < command.first + command.count; n++) {
        std::string port = "COM" + std::to_string(n);
        // Not COMn.bin: that name is the device COMn, in any folder.
        std::string path = folder + port + (command.form == CAPTURE_RAW ? "-rx.bin" : "-rx.txt");
        if (path.size() >= MAX_PATH)
            status = Fail("%s is longer than MAX_PATH (%d bytes)", path.c_str(), MAX_PATH - 1);
        else
            status = StartOne(target, port.c_str(), path, command);
        if (status == EXIT_OK)
            continue;
        // All of the run or none of it.
        QueryReplyHeader2 header;
        std::vector<QueryCaptureStatus> stopped;
        for (long started = command.first; started < n; started++)
            SimpleCaptureQuery(target, QUERY_CAPTURE_STOP,
                               ("COM" + std::to_string(started)).c_str(), &header, &stopped);
        if (n > command.first)
            fprintf(stderr, "tarnwickctl: the captures of COM%ld to COM%ld are stopped again\n",
                    command.first, n - 1);
        return status;
    }
    return EXIT_OK;
}

static void SortByPort(std::vector<QueryCaptureStatus>* records)
{
    std::stable_sort(records->begin(), records->end(),
                     [](const QueryCaptureStatus& a, const QueryCaptureStatus& b) {
                         return PortNumber(a.port) < PortNumber(b.port);
                     });
}

// Stops, then waits until what the captures held is written, and reports it.
static int Stop(const Target& target, const char* port)
{
    QueryReplyHeader2 header;
    std::vector<QueryCaptureStatus> stopped, listed;
    int status = SimpleCaptureQuery(target, QUERY_CAPTURE_STOP, port, &header, &stopped);
    if (status != EXIT_OK)
        return status;
    if (header.head.status != QUERY_OK)
        return Fail("%s: %s", port, CaptureStatusText(header.head.status));
    if (stopped.empty())
        printf("no port captures\n");
    SortByPort(&stopped);
    for (long waited = 0;; waited += WAIT_STEP_MS) {
        if (ListAll(target, &listed) != EXIT_OK)
            return EXIT_FAILED;
        int finishing = 0;
        for (const QueryCaptureStatus& s : stopped) {
            const QueryCaptureStatus* now = Find(listed, s.port, s.path);
            finishing |= s.state == CAPTURE_FINISHING && now && now->state == CAPTURE_FINISHING;
        }
        if (!finishing)
            break;
        if (waited > FINISH_WAIT_MS)
            return Fail("Tarnwick has not written everything within %d s; status shows how far",
                        FINISH_WAIT_MS / 1000);
        Sleep(WAIT_STEP_MS);
    }
    for (const QueryCaptureStatus& s : stopped) {
        const QueryCaptureStatus* now =
            s.state == CAPTURE_FINISHING ? Find(listed, s.port, s.path) : &s;
        if (now && now->state == CAPTURE_FAILED) {
            status = Fail("%s: writing %s failed after %llu bytes: %s", s.port, s.path,
                          (unsigned long long)now->bytesWritten, SystemReason(now->error).c_str());
            std::vector<QueryCaptureStatus> cleared;
            if (now != &s) // a failure is listed until it has been stopped
                SimpleCaptureQuery(target, QUERY_CAPTURE_STOP, s.port, &header, &cleared);
        } else {
            printf("%s: stopped; %llu bytes in %s\n", s.port, (unsigned long long)s.bytesCaptured,
                   s.path);
        }
    }
    return status;
}

int RunCapture(const Target& target, int argc, char** argv, int firstIndex)
{
    CaptureCommand command;
    int status = ParseCapture(argc, argv, firstIndex, &command);
    if (status != EXIT_OK)
        return status;
    if (command.stop)
        return Stop(target, command.port);
    if (command.port)
        return StartOne(target, command.port, command.path, command);
    return StartRun(target, command);
}

static const char* StateName(uint32_t state)
{
    return state == CAPTURE_RUNNING  ? "capturing"
           : state == CAPTURE_FAILED ? "failed"
                                     : "finishing";
}

// JSON strings are UTF-8; paths are in the ANSI code page.
static std::string JsonText(const char* text)
{
    wchar_t wide[MAX_PATH * 2];
    char utf8[MAX_PATH * 4];
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, wide, MAX_PATH * 2);
    if (!length || !WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, nullptr, nullptr))
        utf8[0] = 0;
    std::string out = "\"";
    for (const char* c = utf8; *c; c++) {
        if (*c == '"' || *c == '\\')
            out += '\\';
        out += *c;
    }
    return out + "\"";
}

int PrintCaptureSection(const Target& target, int json)
{
    std::vector<QueryCaptureStatus> records;
    QueryReplyHeader2 header;
    // A Tarnwick without capture has nothing to add.
    if (SimpleCaptureQuery(target, QUERY_CAPTURE_LIST, "", &header, &records) != EXIT_OK ||
        header.head.status != QUERY_OK)
        records.clear();
    SortByPort(&records);
    if (json) {
        printf(", \"captures\": [");
        for (size_t i = 0; i < records.size(); i++) {
            const QueryCaptureStatus& r = records[i];
            printf("%s\n  {\"port\": \"%s\", \"path\": %s, \"form\": \"%s\", \"state\": \"%s\", "
                   "\"bytesCaptured\": %llu, \"bytesWritten\": %llu, \"error\": %u, "
                   "\"reason\": %s}",
                   i ? "," : "", r.port, JsonText(r.path).c_str(), CaptureFormName(r.form),
                   StateName(r.state), (unsigned long long)r.bytesCaptured,
                   (unsigned long long)r.bytesWritten, r.error,
                   JsonText(r.error ? SystemReason(r.error).c_str() : "").c_str());
        }
        printf("\n]");
        return EXIT_OK;
    }
    if (records.empty())
        return EXIT_OK;
    printf("\n%-7s %-10s %-9s %12s  %s\n", "CAPTURE", "FORM", "STATE", "WRITTEN", "FILE");
    for (const QueryCaptureStatus& r : records)
        printf("%-7s %-10s %-9s %12llu  %s%s%s\n", r.port, CaptureFormName(r.form),
               StateName(r.state), (unsigned long long)r.bytesWritten, r.path, r.error ? ": " : "",
               r.error ? SystemReason(r.error).c_str() : "");
    return EXIT_OK;
}
