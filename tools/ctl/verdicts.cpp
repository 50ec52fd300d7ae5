// A burn-in's verdicts: what passing means, the table, the CSV report.
#include "tools/ctl/burnin.h"

#include <stdio.h>

// A port passes when at least this share of what it sent came back verified.
#define PASS_PERCENT 90

static Verdict Judge(const QueryPortStatus& port)
{
    Verdict verdict;
    std::vector<std::string> reasons;
    std::string lineErrors = LineErrorsText(port);
    if (port.bytesSent == 0)
        reasons.push_back("nothing sent");
    if (port.bytesReceived == 0)
        reasons.push_back("nothing received");
    if (port.patternErrors)
        reasons.push_back(std::to_string(port.patternErrors) +
                          (port.patternErrors == 1 ? " pattern error" : " pattern errors"));
    if (!lineErrors.empty())
        reasons.push_back("line errors: " + lineErrors);
    if (port.bytesReceived && port.verified * 100 < port.bytesSent * PASS_PERCENT) {
        unsigned long long percent = port.bytesSent ? port.verified * 100 / port.bytesSent : 0;
        reasons.push_back("only " + std::to_string(percent) + " % of the bytes sent verified");
    }
    for (const std::string& reason : reasons)
        verdict.reason += (verdict.reason.empty() ? "" : "; ") + reason;
    verdict.passed = reasons.empty();
    if (port.modemStatusFailing)
        verdict.note = "modem status unreadable";
    return verdict;
}

static std::string CsvField(const std::string& text)
{
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

static int WriteReport(const char* path, const BurninRequest& request,
                       const std::vector<QueryPortStatus>& run,
                       const std::vector<Verdict>& verdicts)
{
    FILE* file = fopen(path, "w");
    if (!file)
        return Fail("cannot write the report %s", path);
    fputs("port,verdict,seconds,settings,bytes_sent,bytes_received,bytes_verified,"
          "pattern_errors,unsynced_bytes,line_errors,reason,note\n",
          file);
    for (size_t i = 0; i < run.size(); i++) {
        const QueryPortStatus& p = run[i];
        fprintf(file, "%s,%s,%ld,%s,%llu,%llu,%llu,%llu,%llu,%s,%s,%s\n", p.name,
                verdicts[i].passed ? "pass" : "fail", request.seconds,
                CsvField(LineSettingsText(p)).c_str(), (unsigned long long)p.bytesSent,
                (unsigned long long)p.bytesReceived, (unsigned long long)p.verified,
                (unsigned long long)p.patternErrors, (unsigned long long)p.unsynced,
                CsvField(LineErrorsText(p)).c_str(), CsvField(verdicts[i].reason).c_str(),
                CsvField(verdicts[i].note).c_str());
    }
    int failed = ferror(file);
    if (fclose(file) != 0 || failed)
        return Fail("could not finish writing the report %s", path);
    return EXIT_OK;
}

int PrintVerdicts(const BurninRequest& request, const std::vector<QueryPortStatus>& run)
{
    std::vector<Verdict> verdicts;
    std::string failedNames;
    printf("%-7s %-7s %12s %12s %8s %8s  %s\n", "PORT", "VERDICT", "SENT", "VERIFIED", "PAT-ERR",
           "LINE-ERR", "REASON");
    for (const QueryPortStatus& p : run) {
        verdicts.push_back(Judge(p));
        const Verdict& v = verdicts.back();
        std::string text = v.reason + (v.reason.empty() || v.note.empty() ? "" : "; ") +
                           (v.note.empty() ? "" : "note: " + v.note);
        printf("%-7s %-7s %12llu %12llu %8llu %8u%s%s\n", p.name, v.passed ? "pass" : "FAIL",
               (unsigned long long)p.bytesSent, (unsigned long long)p.verified,
               (unsigned long long)p.patternErrors, LineErrorTotal(p), text.empty() ? "" : "  ",
               text.c_str());
        if (!v.passed)
            failedNames += (failedNames.empty() ? "" : ", ") + std::string(p.name);
    }
    size_t failed = 0;
    for (const Verdict& v : verdicts)
        failed += !v.passed;
    printf("burn-in of %zu ports for %ld s: %zu passed, %zu failed%s%s%s\n", run.size(),
           request.seconds, run.size() - failed, failed, failed ? " (" : "", failedNames.c_str(),
           failed ? ")" : "");
    int status = request.report ? WriteReport(request.report, request, run, verdicts) : EXIT_OK;
    if (status != EXIT_OK)
        return status;
    return failed ? EXIT_BURNIN_FAILED : EXIT_OK;
}
