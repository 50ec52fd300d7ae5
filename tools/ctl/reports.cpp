// A burn-in's verdict table and its report files: CSV, JUnit XML and the
// first pattern errors as CSV.
#include "tools/ctl/burnin.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

std::string SettingsText(const QueryPortStatus& port)
{
    return LineSettingsText(port);
}

static const char* StateText(VerdictState state)
{
    return state == VERDICT_PASS ? "pass" : state == VERDICT_FAIL ? "fail" : "incomplete";
}

static std::string CsvField(const std::string& text)
{
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// Text from the program (box texts) may hold any byte; XML gets printable
// ASCII, the rest as \xNN, line feeds only where `lines` allows them.
static std::string XmlText(const std::string& text, int lines = 0)
{
    std::string out;
    for (unsigned char c : text) {
        if (c == '\n' && lines) {
            out += (char)c;
            continue;
        }
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else
            out += (char)c;
    }
    return out;
}

static std::string Format(const char* format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

static double ErrorSeconds(const RunView& view, const QueryPatternError& error)
{
    return RunSeconds(view.header, error.clockMs);
}

static std::string CsvReport(const BurninResult& result)
{
    const RunView& view = *result.view;
    std::string text = "port,verdict,seconds,settings,bytes_sent,bytes_received,bytes_verified,"
                       "pattern_errors,unsynced_bytes,line_errors,line_sent,line_capacity,reason,"
                       "note\n";
    for (size_t i = 0; i < view.last.size(); i++) {
        const QueryPortStatus2& r = view.last[i];
        const QueryPortStatus& p = r.base;
        const Verdict& v = result.verdicts[i];
        text += Format("%s,%s,%.1f,%s,%llu,%llu,%llu,%llu,%llu,%s,%llu,%llu,", p.name,
                       StateText(v.state), result.seconds, CsvField(LineSettingsText(p)).c_str(),
                       (unsigned long long)p.bytesSent, (unsigned long long)p.bytesReceived,
                       (unsigned long long)p.verified, (unsigned long long)p.patternErrors,
                       (unsigned long long)p.unsynced, CsvField(LineErrorsText(p)).c_str(),
                       (unsigned long long)r.lineSent, (unsigned long long)r.capacity);
        text += CsvField(v.reason) + "," + CsvField(v.note) + "\n";
    }
    return text;
}

static std::string ErrorsReport(const BurninResult& result)
{
    const RunView& view = *result.view;
    std::string text = "port,seconds,offset,expected_hex,received_hex\n";
    for (const QueryPortStatus2& r : view.last)
        for (uint64_t e = 0; e < r.base.patternErrors && e < QUERY_FIRST_ERRORS; e++) {
            const QueryPatternError& error = r.firstErrors[e];
            text += Format("%s,%.3f,%llu,%02X,%02X\n", r.base.name, ErrorSeconds(view, error),
                           (unsigned long long)error.offset, error.expected, error.received);
        }
    return text;
}

static std::string ErrorLines(const RunView& view, const QueryPortStatus2& r)
{
    std::string text;
    for (uint64_t e = 0; e < r.base.patternErrors && e < QUERY_FIRST_ERRORS; e++) {
        const QueryPatternError& error = r.firstErrors[e];
        text += Format("\npattern error at %.3f s, byte %llu: expected %02X, received %02X",
                       ErrorSeconds(view, error), (unsigned long long)error.offset, error.expected,
                       error.received);
    }
    return text;
}

static std::string JunitReport(const BurninResult& result)
{
    const RunView& view = *result.view;
    const BurninRequest& request = *result.request;
    size_t failures = 0;
    for (const Verdict& v : result.verdicts)
        failures += v.state != VERDICT_PASS;
    time_t now = time(nullptr);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", localtime(&now));
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    text += Format("<testsuite name=\"tarnwick burn-in COM%ld-COM%ld\" tests=\"%zu\" "
                   "failures=\"%zu\" errors=\"0\" skipped=\"0\" time=\"%.1f\" timestamp=\"%s\">\n",
                   request.first, request.first + request.count - 1, view.last.size(), failures,
                   result.seconds, stamp);
    text += "  <properties>\n";
    text += Format("    <property name=\"ports\" value=\"COM%ld-COM%ld\"/>\n", request.first,
                   request.first + request.count - 1);
    text += Format("    <property name=\"seconds\" value=\"%ld\"/>\n", request.seconds);
    text += Format("    <property name=\"wiring\" value=\"%s\"/>\n",
                   request.pairs ? "null-modem pairs" : "loopback plugs");
    std::string options;
    for (const char* option : request.openOptions)
        options += (options.empty() ? "" : " ") + std::string(option);
    text += "    <property name=\"options\" value=\"" + XmlText(options) + "\"/>\n";
    text += Format("    <property name=\"polls\" value=\"%llu\"/>\n",
                   (unsigned long long)view.header.runPolls);
    text += Format("    <property name=\"poll_held_seconds\" value=\"%.1f\"/>\n",
                   view.header.runHeldMs / 1000.0);
    text += "  </properties>\n";
    for (size_t i = 0; i < view.last.size(); i++) {
        const QueryPortStatus2& r = view.last[i];
        const QueryPortStatus& p = r.base;
        const Verdict& v = result.verdicts[i];
        text += Format("  <testcase classname=\"burnin\" name=\"%s\" time=\"%.1f\">\n", p.name,
                       result.seconds);
        if (v.state != VERDICT_PASS)
            text += "    <failure type=\"" + std::string(StateText(v.state)) + "\" message=\"" +
                    XmlText(v.reason) + "\">" + XmlText(v.reason + ErrorLines(view, r), 1) +
                    "</failure>\n";
        text += Format("    <system-out>settings %s; sent %llu, received %llu, verified %llu, "
                       "unsynchronised %llu, pattern errors %llu, line errors %u; line sent %llu "
                       "of a capacity of %llu",
                       XmlText(LineSettingsText(p)).c_str(), (unsigned long long)p.bytesSent,
                       (unsigned long long)p.bytesReceived, (unsigned long long)p.verified,
                       (unsigned long long)p.unsynced, (unsigned long long)p.patternErrors,
                       LineErrorTotal(p), (unsigned long long)r.lineSent,
                       (unsigned long long)r.capacity);
        if (!v.note.empty())
            text += "; note: " + XmlText(v.note);
        text += "</system-out>\n  </testcase>\n";
    }
    return text + "</testsuite>\n";
}

static std::string TemporaryPath(const char* path)
{
    return std::string(path) + ".tmp";
}

static int WriteFileText(const std::string& path, const std::string& text)
{
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        return 0;
    size_t written = fwrite(text.data(), 1, text.size(), file);
    int failed = ferror(file) || written != text.size();
    return fclose(file) == 0 && !failed;
}

// The last write of a run must land; the ones before it may warn and go on.
static int WriteReport(const char* path, const std::string& text, int last)
{
    if (!path)
        return EXIT_OK;
    std::string temporary = TemporaryPath(path);
    if (!WriteFileText(temporary, text))
        return Fail("could not write the report %s", temporary.c_str());
    if (MoveFileExA(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING))
        return EXIT_OK;
    fprintf(stderr, "tarnwickctl: could not replace %s (error %lu; open elsewhere?); it is in %s\n",
            path, GetLastError(), temporary.c_str());
    return last ? EXIT_FAILED : EXIT_OK;
}

int WriteReports(const BurninResult& result, int last)
{
    const BurninRequest& request = *result.request;
    int status = WriteReport(request.report, CsvReport(result), last);
    if (WriteReport(request.junit, JunitReport(result), last) != EXIT_OK)
        status = EXIT_FAILED;
    if (WriteReport(request.errors, ErrorsReport(result), last) != EXIT_OK)
        status = EXIT_FAILED;
    return status;
}

int CheckReportPaths(const BurninRequest& request)
{
    const char* paths[] = {request.report, request.junit, request.errors};
    const char* options[] = {"--report", "--junit", "--errors"};
    for (int i = 0; i < 3; i++) {
        if (!paths[i])
            continue;
        std::string temporary = TemporaryPath(paths[i]);
        if (!WriteFileText(temporary, ""))
            return UsageError("%s %s: cannot write there (%s)", options[i], paths[i],
                              strerror(errno));
        remove(temporary.c_str());
    }
    return EXIT_OK;
}

void PrintVerdictTable(const BurninResult& result)
{
    const RunView& view = *result.view;
    printf("%-7s %-10s %12s %12s %8s %8s  %s\n", "PORT", "VERDICT", "SENT", "VERIFIED", "PAT-ERR",
           "LINE-ERR", "REASON");
    for (size_t i = 0; i < view.last.size(); i++) {
        const QueryPortStatus& p = view.last[i].base;
        const Verdict& v = result.verdicts[i];
        std::string text = v.reason + (v.reason.empty() || v.note.empty() ? "" : "; ") +
                           (v.note.empty() ? "" : "note: " + v.note);
        printf("%-7s %-10s %12llu %12llu %8llu %8u%s%s\n", p.name,
               v.state == VERDICT_PASS   ? "pass"
               : v.state == VERDICT_FAIL ? "FAIL"
                                         : "incomplete",
               (unsigned long long)p.bytesSent, (unsigned long long)p.verified,
               (unsigned long long)p.patternErrors, LineErrorTotal(p), text.empty() ? "" : "  ",
               text.c_str());
    }
}
