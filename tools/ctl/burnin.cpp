// burnin: every port of a run sends the test pattern for a while, and each
// is judged by what came back: verified pattern bytes, pattern errors and
// line errors, as Tarnwick counted them.
#include "tools/ctl/burnin.h"

#include "common/resource.h"

#include <io.h>
#include <stdio.h>
#include <string.h>

#define PROGRESS_STEP_MS 1000
#define SETTLE_STEP_MS 100
#define SETTLE_LIMIT_MS 5000
#define MODEM_STATUS_BOX "GetCommModemStatus Error:"
#define MODEM_BOX_QUIET_MS 300

static int ParseBurnin(int argc, char** argv, BurninRequest* request)
{
    request->seconds = 0;
    request->report = nullptr;
    if (argc < 2 || !ParseNumber(argv[0], &request->first) ||
        !ParseNumber(argv[1], &request->count))
        return UsageError("burnin wants FIRST and COUNT, e.g. burnin 1 16 --seconds 60");
    if (request->first < 1 || request->count < 1 || request->count > 1024)
        return UsageError("burnin: the first port must be at least 1, the count 1 to 1024");
    for (int i = 2; i < argc; i++) {
        int takesValue = strcmp(argv[i], "--seconds") == 0 || strcmp(argv[i], "--report") == 0;
        if (takesValue && i + 1 >= argc)
            return UsageError("%s needs a value", argv[i]);
        if (strcmp(argv[i], "--seconds") == 0) {
            if (!ParseNumber(argv[++i], &request->seconds) || request->seconds < 1 ||
                request->seconds > 7 * 24 * 3600)
                return UsageError("--seconds needs a whole number of seconds, at least 1");
        } else if (strcmp(argv[i], "--report") == 0) {
            request->report = argv[++i];
        } else {
            request->openOptions.push_back(argv[i]);
        }
    }
    if (!request->seconds)
        return UsageError("burnin needs --seconds N");
    return EXIT_OK;
}

int CheckBurninArguments(int argc, char** argv)
{
    BurninRequest request;
    return ParseBurnin(argc, argv, &request);
}

static const QueryPortStatus* FindStatus(const std::vector<QueryPortStatus>& ports, long number)
{
    for (const QueryPortStatus& port : ports)
        if (PortNumber(port.name) == number)
            return &port;
    return nullptr;
}

static int OpenRun(const Target& target, BurninRequest& request, long first, long count)
{
    std::string firstText = std::to_string(first), countText = std::to_string(count);
    std::vector<char*> args = {&firstText[0], &countText[0]};
    args.insert(args.end(), request.openOptions.begin(), request.openOptions.end());
    printf("opening COM%ld to COM%ld\n", first, first + count - 1);
    fflush(stdout);
    return OpenPorts(target, (int)args.size(), args.data());
}

// Opens each stretch of the run that is not open yet, with the given settings.
static int OpenMissingPorts(const Target& target, BurninRequest& request)
{
    std::vector<QueryPortStatus> ports;
    int status = QueryStatus(target, &ports, nullptr);
    long last = request.first + request.count - 1;
    int alreadyOpen = 0;
    for (long n = request.first; status == EXIT_OK && n <= last; n++) {
        if (FindStatus(ports, n)) {
            alreadyOpen = 1;
            continue;
        }
        long end = n;
        while (end < last && !FindStatus(ports, end + 1))
            end++;
        status = OpenRun(target, request, n, end - n + 1);
        // The dialog's work is judged by what is open afterwards: a box
        // shown meanwhile (such as unreadable modem inputs) is no failure.
        if (status == EXIT_USAGE)
            return status;
        status = EXIT_OK;
        n = end;
    }
    if (status == EXIT_OK)
        status = QueryStatus(target, &ports, nullptr);
    for (long n = request.first; status == EXIT_OK && n <= last; n++)
        if (!FindStatus(ports, n))
            return Fail("COM%ld could not be opened; see Tarnwick's boxes", n);
    if (status == EXIT_OK && alreadyOpen && !request.openOptions.empty())
        fputs("tarnwickctl: line settings apply to the ports opened now; ports already open keep "
              "theirs\n",
              stderr);
    return status;
}

// Unreadable modem inputs (pseudo-terminals, some drivers) raise one box per
// port, and a box holds the poll of every port; it is only a note here.
// Each port's box comes once the one before it is answered; `quietMs` is
// how long to look for the next before going on.
static void AnswerModemStatusBoxes(const Target& target, int quietMs)
{
    for (int quiet = 0;;) {
        int answered = 0;
        for (HWND box : ListBoxes(target)) {
            std::string text = BoxText(box);
            if (text.compare(0, strlen(MODEM_STATUS_BOX), MODEM_STATUS_BOX) != 0)
                continue;
            fprintf(stderr, "tarnwickctl: answered Tarnwick's box \"%s\"\n", text.c_str());
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         (LPARAM)GetDlgItem(box, IDOK));
            WaitUntilHidden(box);
            answered++;
        }
        if (answered) {
            quiet = 0;
            continue;
        }
        if (quiet >= quietMs)
            return;
        Sleep(WAIT_STEP_MS);
        quiet += WAIT_STEP_MS;
    }
}

static int SetTestData(const Target& target, int on)
{
    int current = 0;
    std::vector<QueryPortStatus> ports;
    int status = QueryStatus(target, &ports, &current);
    if (status != EXIT_OK || current == on)
        return status;
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(target.frame, WM_COMMAND, CMD_SEND_TEST_DATA, 0, SMTO_NORMAL,
                             ANSWER_TIMEOUT_MS, &result))
        return Fail("Tarnwick did not take Send Test Data within %d ms", ANSWER_TIMEOUT_MS);
    return EXIT_OK;
}

static void RunPorts(const BurninRequest& request, const std::vector<QueryPortStatus>& all,
                     std::vector<QueryPortStatus>* run)
{
    run->clear();
    for (long n = request.first; n < request.first + request.count; n++) {
        const QueryPortStatus* port = FindStatus(all, n);
        if (port)
            run->push_back(*port);
    }
}

static int ShowProgress(const Target& target, const BurninRequest& request, long elapsedMs)
{
    std::vector<QueryPortStatus> all, run;
    AnswerModemStatusBoxes(target, 0);
    int status = QueryStatus(target, &all, nullptr);
    if (status != EXIT_OK)
        return status;
    RunPorts(request, all, &run);
    unsigned long long verified = 0, errors = 0;
    int failing = 0;
    for (const QueryPortStatus& port : run) {
        verified += port.verified;
        errors += port.patternErrors + LineErrorTotal(port);
        // Nothing back a second into the run is a failure already.
        int silent = elapsedMs > PROGRESS_STEP_MS && port.bytesSent && !port.bytesReceived;
        failing += port.patternErrors + LineErrorTotal(port) > 0 || silent;
    }
    int console = _isatty(_fileno(stderr));
    if (!console && elapsedMs % 10000 != 0 && elapsedMs < request.seconds * 1000)
        return EXIT_OK;
    fprintf(stderr,
            "%sburn-in %ld/%ld s: %zu ports, %llu bytes verified, %llu errors, %d ports failing%s",
            console ? "\r" : "", elapsedMs / 1000, request.seconds, run.size(), verified, errors,
            failing, console ? "   " : "\n");
    return EXIT_OK;
}

// After the pattern is switched off, waits until what is still on the line
// has arrived and been read: empty queues and no new bytes since the last look.
static int Settle(const Target& target, const BurninRequest& request,
                  std::vector<QueryPortStatus>* run)
{
    std::vector<QueryPortStatus> all, before;
    for (int waited = 0;; waited += SETTLE_STEP_MS) {
        int status = QueryStatus(target, &all, nullptr);
        if (status != EXIT_OK)
            return status;
        RunPorts(request, all, run);
        int quiet = before.size() == run->size();
        for (size_t i = 0; quiet && i < run->size(); i++)
            quiet = (*run)[i].inQueue == 0 && (*run)[i].outQueue == 0 &&
                    (*run)[i].bytesReceived == before[i].bytesReceived;
        if (quiet || waited >= SETTLE_LIMIT_MS)
            return EXIT_OK;
        before = *run;
        Sleep(SETTLE_STEP_MS);
    }
}

int RunBurnin(const Target& target, int argc, char** argv)
{
    BurninRequest request;
    int status = ParseBurnin(argc, argv, &request);
    if (status == EXIT_OK)
        status = OpenMissingPorts(target, request);
    if (status == EXIT_OK)
        AnswerModemStatusBoxes(target, MODEM_BOX_QUIET_MS);
    QueryReplyHeader2 header;
    std::vector<char> none;
    for (long n = request.first; status == EXIT_OK && n < request.first + request.count; n++)
        status = Query(target, QUERY_RESET, ("COM" + std::to_string(n)).c_str(), &header, &none);
    if (status == EXIT_OK)
        status = SetTestData(target, 1);
    if (status != EXIT_OK)
        return status;
    DWORD start = GetTickCount();
    for (long next = PROGRESS_STEP_MS; status == EXIT_OK && next <= request.seconds * 1000;
         next += PROGRESS_STEP_MS) {
        long left = next - (long)(GetTickCount() - start);
        if (left > 0)
            Sleep((DWORD)left);
        status = ShowProgress(target, request, next);
    }
    // The pattern goes off even when Tarnwick stopped answering queries.
    int offStatus = SetTestData(target, 0);
    if (_isatty(_fileno(stderr)))
        fputc('\n', stderr);
    if (status == EXIT_OK)
        status = offStatus;
    std::vector<QueryPortStatus> run;
    if (status == EXIT_OK)
        status = Settle(target, request, &run);
    if (status != EXIT_OK)
        return status;
    if (run.size() != (size_t)request.count)
        return Fail("some ports of the run were closed during the burn-in");
    return PrintVerdicts(request, run);
}
