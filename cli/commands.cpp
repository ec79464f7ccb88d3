// commands.cpp - qvar-cli's program frame and its one-shot commands: the port
// list, the start exchange, Get, Send (with read-back) and the teach, reset
// and refresh commands. Each runs the tool's own link procedures after the
// start exchange, so the controller sees what the tool would send.
#include "cli/cli.h"

#include "state/qvar.h"
#include "app/app.h"
#include "link/com232.h"
#include "link/protocol.h"
#include "params/params.h"
#include "platform/clock.h"
#include "platform/files/files.h"
#include "platform/serial/serial.h"
#include "platform/ui/ui.h"

#include <cerrno>
#include <cstring>

#ifndef QVAR_VERSION
#define QVAR_VERSION "unknown"
#endif

namespace {

FILE *errStream = stderr;
bool quiet = false;
char lastStatus[TEXT_LEN + 1];
bool portOpen = false;
bool outputFailed = false;

// The tool's status line shows a text again as it stands (the start exchange
// shows the firmware text once read and once more as its outcome); a log
// would print it twice.
void StatusToStderr(const char *text)
{
    const bool again = std::strcmp(lastStatus, text) == 0;
    CopyText(lastStatus, sizeof lastStatus, text);
    if (!quiet && !again)
        std::fprintf(errStream, "%s\n", text);
}

void PrintBlock(FILE *out, const uint16_t *words)
{
    for (int i = 0; i < 16; i++)
        std::fprintf(out, "%u%c", unsigned(words[i]), i == 15 ? '\n' : '\t');
}

void PrintJsonWords(FILE *out, const uint16_t *words)
{
    std::fputc('[', out);
    for (int i = 0; i < 16; i++)
        std::fprintf(out, "%s%u", i ? ", " : "", unsigned(words[i]));
    std::fputc(']', out);
}

// The length of the UTF-8 sequence at s (1 to 4), or 0 when none starts
// there: overlong forms, surrogates and code points past U+10FFFF are none.
int Utf8Length(const unsigned char *s)
{
    const unsigned char c = s[0];
    int n = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (n > 1) {
        // The second byte's range narrows for E0, ED, F0 and F4.
        const unsigned char lo = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
        const unsigned char hi = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
        if (s[1] < lo || s[1] > hi)
            return 0;
        for (int i = 2; i < n; i++)
            if (s[i] < 0x80 || s[i] > 0xBF)
                return 0;
    }
    return n;
}

// Text as UTF-8, escaped only where JSON asks it. A device path is whatever
// bytes its name has; a byte that is no part of a UTF-8 character becomes
// U+FFFD, as the window shows it, since JSON can carry only characters.
void PrintJsonText(FILE *out, const char *text)
{
    std::fputc('"', out);
    for (const unsigned char *c = (const unsigned char *)text; *c;) {
        const int n = Utf8Length(c);
        if (*c == '"' || *c == '\\')
            std::fprintf(out, "\\%c", *c);
        else if (*c < 0x20 || *c == 0x7F)
            std::fprintf(out, "\\u%04x", *c);
        else if (n == 0)
            std::fputs("\\ufffd", out);
        else
            std::fwrite(c, 1, size_t(n), out);
        c += n == 0 ? 1 : n;
    }
    std::fputc('"', out);
}

int Dispatch(const CliOptions &o, FILE *out)
{
    const std::string &c = o.command;
    if (c == "ports")
        return CmdPorts(o, out);
    if (c == "info")
        return CmdInfo(o, out);
    if (c == "get")
        return CmdGet(o, out);
    if (c == "send")
        return CmdSend(o, out);
    if (c == "teach" || c == "reset" || c == "refresh")
        return CmdCommand(o, out);
    if (c == "watch")
        return CmdWatch(o, out);
    if (c == "record")
        return CmdRecord(o, out);
    return CmdCurve(o, out);
}

} // namespace

void ReportFailure(const char *text)
{
    if (text)
        std::fprintf(errStream, "qvar-cli: %s\n", text);
    else if (quiet && lastStatus[0])
        std::fprintf(errStream, "%s\n", lastStatus);
}

void ReportUnansweredRead(int channel)
{
    char text[96];
    std::snprintf(text, sizeof text, "no answer to the parameter read of channel %c (%s)",
                  channel ? 'B' : 'A', "Timeout-RS-232...");
    ReportFailure(text);
}

bool Quiet(void) { return quiet; }
FILE *ErrorStream(void) { return errStream; }

int CheckOutput(const CliOptions &o)
{
    if (o.output.empty())
        return CLI_OK;
    const int r = CheckOutputFile(o.output.c_str());
    if (r == 0)
        return CLI_OK;
    ReportFailure((o.output + ": " + FileErrorText(r)).c_str());
    return CLI_FILE;
}

int WriteOutput(const CliOptions &o, const std::string &text, FILE *out)
{
    if (o.output.empty()) {
        std::fwrite(text.data(), 1, text.size(), out);
        return CheckStandardOutput(out);
    }
    if (int r = WriteWholeFile(o.output.c_str(), text.data(), (long long)text.size()); r < 0) {
        ReportFailure((o.output + ": cannot write the file: " + FileErrorText(r)).c_str());
        return CLI_FILE;
    }
    return CLI_OK;
}

int CheckStandardOutput(FILE *out)
{
    errno = 0;
    if (std::fflush(out) == 0 && !std::ferror(out))
        return CLI_OK;
    // Said once: a loop that prints goes on asking until it stops.
    if (!outputFailed)
        ReportFailure((std::string("standard output: ") + (errno ? std::strerror(errno) : "write error")).c_str());
    outputFailed = true;
    return CLI_FILE;
}

int OpenController(const CliOptions &o, bool needFirmware)
{
    com = o.port;
    StartOutcome outcome;
    StartLink(o.port, &outcome);
    portOpen = outcome.openCode == 0;
    if (!portOpen) {
        ReportFailure(nullptr);
        return CLI_PORT;
    }
    if (outcome.echoOk && !outcome.readsOk) {
        ReportUnansweredRead(outcome.readA ? 1 : 0);
        return CLI_LINK;
    }
    if (!outcome.echoOk || (needFirmware && !outcome.firmwareOk)) {
        ReportFailure(nullptr);
        return CLI_LINK;
    }
    return CLI_OK;
}

// What the link met on the line, for -v.
static void PrintLinkCounters(void)
{
    LinkCounters c;
    GetLinkCounters(&c);
    std::fprintf(errStream,
                 "qvar-cli: link: %ld frames taken, %ld dropped, %ld time-outs, %ld bytes discarded, "
                 "%ld requests repeated\n",
                 c.framesTaken, c.framesDropped, c.timeouts, c.bytesDiscarded, c.requestsRepeated);
}

void CloseController(void)
{
    if (portOpen)
        CloseCom(com);
    portOpen = false;
}

int CliRun(int argc, char *argv[], FILE *out, FILE *err)
{
    errStream = err;
    lastStatus[0] = 0;
    outputFailed = false;
    CliOptions o;
    int r = ParseCliOptions(argc, argv, &o, err);
    if (r != CLI_OK)
        return r;
    quiet = o.quiet;
    if (o.version) {
        std::fprintf(out, "qvar-cli %s\n", QVAR_VERSION);
        return CLI_OK;
    }
    if (o.help) {
        std::fputs(CliUsage(o.command), out);
        return CLI_OK;
    }
    InitHeadless(argc, argv);
    // The tool's panels start with these, so the start exchange's echo frame
    // carries the same words as the tool's.
    InitParameterDefaults();
    SetStatusSink(StatusToStderr);
    SetParameterSink(nullptr);
    r = Dispatch(o, out);
    // Before the port closes: its own drops count too.
    if (o.verbose)
        PrintLinkCounters();
    CloseController();
    SetStatusSink(nullptr);
    // What was printed counts only once it is out: a full disk or a closed
    // pipe behind standard output is a failure, not an empty success.
    const int flushed = CheckStandardOutput(out);
    return r == CLI_OK ? flushed : r;
}

int CmdPorts(const CliOptions &o, FILE *out)
{
    static ComPortInfo list[COM_MAX_PORT];
    int n = GetComPortList(list, COM_MAX_PORT);
    if (n < 0) {
        ReportFailure(ComErrorText(n));
        return CLI_LINK;
    }
    if (n > COM_MAX_PORT)
        n = COM_MAX_PORT;
    if (o.json)
        std::fputs("[", out);
    for (int i = 0; i < n; i++) {
        const ComPortInfo &p = list[i];
        if (o.json) {
            std::fprintf(out, "%s\n  {\"number\": %d, \"device\": ", i ? "," : "", p.number);
            PrintJsonText(out, p.device);
            std::fputs(", \"description\": ", out);
            PrintJsonText(out, p.description);
            std::fprintf(out, ", \"simulated\": %s}", p.simulated ? "true" : "false");
        } else {
            std::fprintf(out, "%d\t%s\t%s\n", p.number, p.simulated ? "-" : p.device, p.description);
        }
    }
    if (o.json)
        std::fputs("\n]\n", out);
    return CLI_OK;
}

int CmdInfo(const CliOptions &o, FILE *out)
{
    int r = OpenController(o, true);
    if (r != CLI_OK)
        return r;
    // The start exchange leaves the firmware text in the status buffer.
    if (o.json) {
        uint16_t blocks[2][16];
        PackParaBlocks(blocks);
        std::fprintf(out, "{\"port\": %d, \"firmware\": ", o.port);
        PrintJsonText(out, szStatus);
        std::fputs(", \"ram\": {\"A\": ", out);
        PrintJsonWords(out, blocks[0]);
        std::fputs(", \"B\": ", out);
        PrintJsonWords(out, blocks[1]);
        std::fputs("}}\n", out);
    } else {
        std::fprintf(out, "%s\n", szStatus);
    }
    return CLI_OK;
}

int CmdGet(const CliOptions &o, FILE *out)
{
    int r = CheckOutput(o);
    if (r == CLI_OK)
        r = OpenController(o);
    if (r != CLI_OK)
        return r;
    target = o.memory;
    order = (target == RAM) ? ORDER_READ_RAM : ORDER_READ_EEPROM;
    PushGET(target, 0);
    bool ok = rx_flag == 1;
    PushGET(target, 1);
    if (!ok || rx_flag != 1) {
        ReportUnansweredRead(ok ? 1 : 0);
        return CLI_LINK;
    }

    // The tool's own writer; standard output gets the same text.
    if (!o.output.empty()) {
        if (int w = WriteParaFile(o.output.c_str()); w < 0) {
            ReportFailure((o.output + ": cannot write the parameter file: " + FileErrorText(w)).c_str());
            return CLI_FILE;
        }
    }
    if (o.json) {
        uint16_t blocks[2][16];
        PackParaBlocks(blocks);
        std::fprintf(out, "{\"from\": \"%s\", \"A\": ", target == RAM ? "ram" : "eeprom");
        PrintJsonWords(out, blocks[0]);
        std::fputs(", \"B\": ", out);
        PrintJsonWords(out, blocks[1]);
        std::fputs("}\n", out);
    } else if (o.output.empty()) {
        char text[512];
        const int n = ParaFileText(text, sizeof text);
        if (n < 0) {
            ReportFailure("cannot render the parameter file");
            return CLI_FILE;
        }
        std::fwrite(text, 1, size_t(n), out);
    }
    return CLI_OK;
}

int CmdSend(const CliOptions &o, FILE *)
{
    // The file is read and checked whole before the port is opened.
    uint32_t words[32];
    char why[96];
    // The tool's reader: regular files only, without blocking, up to 64 KiB,
    // exactly 32 numbers of 16 bits.
    int r = ReadParaFileWords(o.input.c_str(), words, why, sizeof why);
    if (r < 0) {
        ReportFailure((o.input + ": " + why).c_str());
        return CLI_FILE;
    }
    if ((r = OpenController(o)) != CLI_OK)
        return r;

    ParaWordsToVars(words);
    uint16_t sent[2][16];
    PackParaBlocks(sent);
    if (!SendParaBlocks(o.memory)) {
        ReportFailure(nullptr);
        return CLI_LINK;
    }
    if (!o.verify)
        return CLI_OK;

    VerifyOutcome v;
    if (VerifyParaBlocks(o.memory, sent, &v))
        return CLI_OK;
    for (int i = 0; i < v.count; i++) {
        char text[128];
        DescribeDifference(v.differences[i], text, sizeof text);
        std::fprintf(ErrorStream(), "qvar-cli: %s\n", text);
    }
    if (v.unanswered)
        ReportFailure(nullptr);
    else
        ReportFailure("verify failed: the controller holds another parameter set");
    return CLI_LINK;
}

int CmdCommand(const CliOptions &o, FILE *out)
{
    int r = OpenController(o);
    if (r != CLI_OK)
        return r;
    if (o.command == "teach") {
        ShowStatus("Teach new Reference-Value ...");
        SendCommand(ORDER_TEACH, "New setpoint value teached!");
    } else {
        SendCommand(o.command == "reset" ? ORDER_RESET : ORDER_REFRESH, nullptr);
    }
    // The read-back's answer is the last thing that set the flag.
    if (rx_flag != 1) {
        ReportFailure(nullptr);
        return CLI_LINK;
    }
    CopyVarsToPP(0);
    uint16_t a[16];
    std::memcpy(a, pp, sizeof a);
    PrintBlock(out, a);
    return CLI_OK;
}
