// burnin: every port of a run sends the test pattern on its own for a
// while, and each is judged on what it did: see judge.h for the rules. The
// program keeps the run's record on its own clock; this tool starts and
// stops the run, answers the boxes raised meanwhile, and reports.
#include "tools/ctl/burnin.h"

#include "common/resource.h"

#include <algorithm>
#include <io.h>
#include <set>
#include <stdio.h>
#include <string.h>

#define PROGRESS_STEP_MS 1000
#define REPORT_STEP_MS 10000
#define SETTLE_STEP_MS 100
#define MODEM_BOX_QUIET_MS 300
#define MODEM_STATUS_BOX "GetCommModemStatus Error:"

static volatile LONG Interrupted = 0;

static BOOL WINAPI NoteInterrupt(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    InterlockedExchange(&Interrupted, 1);
    return TRUE;
}

static int ParseBurnin(int argc, char** argv, BurninRequest* request)
{
    request->seconds = 0;
    request->pairs = 0;
    request->report = request->junit = request->errors = nullptr;
    if (argc < 2 || !ParseNumber(argv[0], &request->first) ||
        !ParseNumber(argv[1], &request->count))
        return UsageError("burnin wants FIRST and COUNT, e.g. burnin 1 16 --seconds 60");
    if (request->first < 1 || request->count < 1 || request->first > HIGHEST_PORT ||
        request->count > HIGHEST_PORT || request->first + request->count - 1 > HIGHEST_PORT)
        return UsageError("burnin: the ports must lie within COM1 to COM%d", HIGHEST_PORT);
    for (int i = 2; i < argc; i++) {
        const char* option = argv[i];
        int takesValue = strcmp(option, "--seconds") == 0 || strcmp(option, "--report") == 0 ||
                         strcmp(option, "--junit") == 0 || strcmp(option, "--errors") == 0;
        if (takesValue && i + 1 >= argc)
            return UsageError("%s needs a value", option);
        if (strcmp(option, "--seconds") == 0) {
            if (!ParseNumber(argv[++i], &request->seconds) || request->seconds < 1 ||
                request->seconds > 7 * 24 * 3600)
                return UsageError("--seconds needs a whole number of seconds, at least 1");
        } else if (strcmp(option, "--report") == 0) {
            request->report = argv[++i];
        } else if (strcmp(option, "--junit") == 0) {
            request->junit = argv[++i];
        } else if (strcmp(option, "--errors") == 0) {
            request->errors = argv[++i];
        } else if (strcmp(option, "--pairs") == 0) {
            request->pairs = 1;
        } else {
            request->openOptions.push_back(argv[i]);
        }
    }
    if (!request->seconds)
        return UsageError("burnin needs --seconds N");
    if (request->pairs && request->count % 2)
        return UsageError("--pairs needs an even count of ports, not %ld", request->count);
    std::string first = std::to_string(request->first), count = std::to_string(request->count);
    std::vector<char*> open = {&first[0], &count[0]};
    open.insert(open.end(), request->openOptions.begin(), request->openOptions.end());
    int status = CheckOpenArguments((int)open.size(), open.data());
    if (status != EXIT_OK)
        return status;
    return CheckReportPaths(*request);
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
    std::set<long> opened;
    for (long n = request.first; status == EXIT_OK && n <= last; n++) {
        if (FindStatus(ports, n)) {
            alreadyOpen = 1;
            continue;
        }
        long end = n;
        while (end < last && !FindStatus(ports, end + 1))
            end++;
        for (long k = n; k <= end; k++)
            opened.insert(k);
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
        for (long n = request.first; n <= last; n++)
            if (opened.find(n) == opened.end())
                fprintf(stderr, "tarnwickctl: %s was open already and keeps its settings, %s\n",
                        FindStatus(ports, n)->name,
                        LineSettingsText(*FindStatus(ports, n)).c_str());
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

// Every box Tarnwick raises during the run is answered, so that no port's
// poll stays held: OK where it is the only button, Cancel otherwise. The
// program tells which port raised it.
static void AnswerBoxes(const Target& target, double seconds)
{
    for (HWND box : ListBoxes(target)) {
        std::string text = BoxText(box);
        for (char& c : text)
            c = c == '\r' || c == '\n' ? ' ' : c;
        int onlyOk = GetDlgItem(box, IDOK) && !GetDlgItem(box, IDCANCEL) &&
                     !GetDlgItem(box, IDNO) && !GetDlgItem(box, IDRETRY);
        int button = onlyOk ? IDOK : GetDlgItem(box, IDCANCEL) ? IDCANCEL : IDNO;
        fprintf(stderr, "tarnwickctl: answered Tarnwick's box \"%s\" at %.1f s\n", text.c_str(),
                seconds);
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                     (LPARAM)GetDlgItem(box, button));
        WaitUntilHidden(box);
    }
}

static int Snapshot(const Target& target, RunView* view)
{
    QueryReplyHeader2 header;
    std::vector<char> records;
    int status = QueryStatus2(target, &header, &records);
    if (status == EXIT_OK)
        UpdateRunView(view, header, records.data());
    return status;
}

static double SecondsSince(DWORD start)
{
    return (GetTickCount() - start) / 1000.0;
}

static BurninResult Judge(const BurninRequest& request, const RunView& view, double seconds)
{
    BurninResult result;
    result.request = &request;
    result.view = &view;
    result.seconds = seconds;
    result.verdicts = JudgeRun(view.last, view.header, view.facts);
    return result;
}

static void ShowProgress(const BurninRequest& request, const RunView& view, long elapsedMs)
{
    int console = _isatty(_fileno(stderr));
    if (!console && elapsedMs % REPORT_STEP_MS != 0)
        return;
    RunView snapshot = view;
    snapshot.facts.endedAt = elapsedMs / 1000.0;
    BurninResult result = Judge(request, snapshot, elapsedMs / 1000.0);
    unsigned long long verified = 0, errors = 0;
    int failing = 0;
    for (size_t i = 0; i < view.last.size(); i++) {
        verified += view.last[i].base.verified;
        errors += view.last[i].base.patternErrors + LineErrorTotal(view.last[i].base);
        failing += result.verdicts[i].state == VERDICT_FAIL;
    }
    fprintf(stderr,
            "%sburn-in %ld/%ld s: %zu port%s, %llu bytes verified, %llu errors, %d failing%s",
            console ? "\r" : "", elapsedMs / 1000, request.seconds, view.last.size(),
            view.last.size() == 1 ? "" : "s", verified, errors, failing, console ? "   " : "\n");
}

// Waits until what is queued has arrived: empty queues, nothing new.
static int Settle(const Target& target, RunView* view, DWORD start)
{
    uint32_t limit = SettleLimitMs(view->last);
    for (uint32_t waited = 0; waited < limit; waited += SETTLE_STEP_MS) {
        std::vector<QueryPortStatus2> before = view->last;
        Sleep(SETTLE_STEP_MS);
        AnswerBoxes(target, SecondsSince(start));
        int status = Snapshot(target, view);
        if (status != EXIT_OK)
            return status;
        if (Settled(before, *view))
            return EXIT_OK;
    }
    return EXIT_OK;
}

static void PrintSummary(const BurninResult& result)
{
    const RunView& view = *result.view;
    size_t passed = 0, failed = 0;
    std::string failedNames;
    for (size_t i = 0; i < result.verdicts.size(); i++) {
        passed += result.verdicts[i].state == VERDICT_PASS;
        if (result.verdicts[i].state != VERDICT_FAIL)
            continue;
        failed++;
        failedNames += (failedNames.empty() ? "" : ", ") + std::string(view.last[i].base.name);
    }
    size_t incomplete = result.verdicts.size() - passed - failed;
    printf("burn-in of %zu port%s for %ld s: %zu passed, %zu failed%s%s%s", view.last.size(),
           view.last.size() == 1 ? "" : "s", result.request->seconds, passed, failed,
           failed ? " (" : "", failedNames.c_str(), failed ? ")" : "");
    if (incomplete)
        printf(", %zu incomplete", incomplete);
    const QueryReplyHeader2& h = view.header;
    printf("\npoll: %llu polls in %.1f s, every %.1f ms on average, longest gap %u ms; held %.1f s "
           "by boxes\n",
           (unsigned long long)h.runPolls, h.runMs / 1000.0,
           h.runPolls && h.runMs > h.runHeldMs ? (double)(h.runMs - h.runHeldMs) / h.runPolls : 0.0,
           h.runLongestGapMs, h.runHeldMs / 1000.0);
}

static int Finish(const BurninRequest& request, RunView* view, double seconds, int interrupted)
{
    if (_isatty(_fileno(stderr)))
        fputc('\n', stderr);
    BurninResult result = Judge(request, *view, seconds);
    PrintVerdictTable(result);
    PrintSummary(result);
    int written = WriteReports(result, 1);
    int failed = 0;
    for (const Verdict& v : result.verdicts)
        failed += v.state == VERDICT_FAIL;
    if (interrupted)
        return EXIT_INTERRUPTED;
    if (failed || view->facts.stoppedAnswering)
        return EXIT_BURNIN_FAILED;
    return written == EXIT_OK ? EXIT_OK : EXIT_FAILED;
}

// Before the run, what its ports sent earlier must have arrived.
static int Quieten(const Target& target, const BurninRequest& request, RunView* view)
{
    int status = RunPhase(target, request.first, request.count, RUN_JOIN, nullptr);
    if (status == EXIT_OK)
        status = Snapshot(target, view);
    if (status == EXIT_OK)
        status = Settle(target, view, GetTickCount());
    return status;
}

int RunBurnin(const Target& target, int argc, char** argv)
{
    BurninRequest request;
    int status = ParseBurnin(argc, argv, &request);
    QueryReplyHeader2 header;
    std::vector<char> records;
    if (status == EXIT_OK)
        status = QueryStatus2(target, &header, &records);
    if (status == EXIT_OK && header.runOwner && header.runOwner != GetCurrentProcessId())
        return Fail("another burn-in is running (tarnwickctl process %u)", header.runOwner);
    if (status == EXIT_OK)
        status = OpenMissingPorts(target, request);
    if (status == EXIT_OK)
        AnswerModemStatusBoxes(target, MODEM_BOX_QUIET_MS);
    RunView view;
    StartRunView(&view, request.first, request.count, request.pairs);
    if (status == EXIT_OK)
        status = Quieten(target, request, &view);
    if (status == EXIT_OK)
        status = RunPhase(target, request.first, request.count, RUN_SEND, nullptr);
    if (status != EXIT_OK)
        return status;
    SetConsoleCtrlHandler(NoteInterrupt, TRUE);
    DWORD start = GetTickCount();
    long runMs = request.seconds * 1000;
    int interrupted = 0;
    for (long next = PROGRESS_STEP_MS;; next += PROGRESS_STEP_MS) {
        while (!(interrupted = Interrupted) &&
               (long)(GetTickCount() - start) < std::min(next, runMs)) {
            AnswerBoxes(target, SecondsSince(start));
            Sleep(WAIT_STEP_MS);
        }
        if (Snapshot(target, &view) != EXIT_OK) {
            view.facts.stoppedAnswering = 1;
            view.facts.endedAt = SecondsSince(start);
            return Finish(request, &view, view.facts.endedAt, 0);
        }
        if (interrupted || next >= runMs)
            break;
        ShowProgress(request, view, next);
        if (next % REPORT_STEP_MS == 0) {
            RunView snapshot = view;
            snapshot.facts.endedAt = next / 1000.0;
            WriteReports(Judge(request, snapshot, next / 1000.0), 0);
        }
    }
    double seconds = SecondsSince(start);
    status = RunPhase(target, request.first, request.count, RUN_STOP, nullptr);
    if (status == EXIT_OK && !interrupted)
        status = Settle(target, &view, start);
    if (status == EXIT_OK)
        status = Snapshot(target, &view);
    if (status == EXIT_OK)
        status = RunPhase(target, request.first, request.count, RUN_LEAVE, nullptr);
    if (status != EXIT_OK) {
        view.facts.stoppedAnswering = 1;
        view.facts.endedAt = seconds;
    }
    view.facts.complete = !interrupted && status == EXIT_OK;
    view.facts.endedAt = seconds;
    return Finish(request, &view, seconds, interrupted);
}
