// live.cpp - qvar-cli's commands that keep talking to the controller: watch
// and record run the scope's ping-pong of live-value requests (order 8, one
// request in flight), curve runs the Data button's block reads. Ctrl-C ends
// watch and record after the line in hand is out.
#include "cli/cli.h"

#include "state/qvar.h"
#include "link/com232.h"
#include "link/protocol.h"
#include "platform/clock.h"
#include "platform/files/files.h"
#include "platform/serial/serial.h"
#include "platform/ui/ui.h"
#include "recorder/recorder.h"
#include "scope/scope.h"

#include <cstdio>
#include <string>

namespace {

// The scope's own line time-out, and the recorder's.
const double WATCH_TIMEOUT = 2.0;

const char WATCH_HEADER[] =
    "valNORMA\tvalNORMB\tadcCHA\tadcCHB\tAmax\tBmax\tMAXvalA\tMAXvalB\t"
    "MINvalA\tMINvalB\ttolval\tbtnval\tinputs\ttempC\ttriggHI\ttriggLO\n";

// Waits between requests without holding a core, and without oversleeping a
// Ctrl-C for long.
void PauseUntil(double when)
{
    for (double left = when - Timer(); left > 0 && !InterruptCaught(); left = when - Timer())
        Delay(left < 0.05 ? left : 0.05);
}

// No answer can be complete before the request's 36 bytes and its own 36
// have crossed the line at 19200 baud (10 bits a byte): 37.5 ms. Sleeping
// through most of that, instead of pumping every millisecond, is what keeps a
// long watch or recording near no CPU; the pump then waits for the rest. The
// bytes arriving meanwhile wait in the port's queue.
void NapWhileNoAnswerCanBeComplete(void)
{
    const double earliest = 0.95 * 2 * int(FRAME_BYTES) * 10.0 / 19200.0;
    const double left = tstart + earliest - Timer();
    if (left > 0 && !InterruptCaught())
        Delay(left);
}

// The first request of a loop, as the scope and the recorder send it.
void FirstLiveRequest(void)
{
    SettleLiveLine();
    order = ORDER_LIVE_VALUES;
    SendLiveRequest();
    if (nBytesW == FRAME_BYTES)
        ShowStatus("Line Ok!");
}

// What the scope and the recorder do when their loop ends.
void EndLiveLoop(void)
{
    rx_flag = 0;
    FlushInQ(com);
    FlushOutQ(com);
    graphrefresh = 0;
}

} // namespace

int CmdWatch(const CliOptions &o, FILE *out)
{
    int r = OpenController(o);
    if (r != CLI_OK)
        return r;
    std::fputs(WATCH_HEADER, out);
    if ((r = CheckStandardOutput(out)) != CLI_OK)
        return r;
    CatchInterrupt(1);

    FirstLiveRequest();
    long lines = 0;
    r = CLI_OK;
    while (o.count < 0 || lines < o.count) {
        if (InterruptCaught()) {
            r = CLI_INTERRUPTED;
            break;
        }
        if (rx_flag == 1) {
            // The answer is in pp until the next request overwrites it.
            unsigned words[16];
            for (int i = 0; i < 16; i++)
                words[i] = pp[i];
            const bool last = o.count >= 0 && lines + 1 >= o.count;
            // At line rate the next request leaves before the line is
            // printed: printing then overlaps the controller's answer
            // instead of holding up the request.
            const bool sendNow = !last && o.interval <= 0 && !InterruptCaught();
            if (sendNow)
                SendLiveRequest();
            for (int i = 0; i < 16; i++)
                std::fprintf(out, "%u%c", words[i], i == 15 ? '\n' : '\t');
            // Nobody reads what cannot be written: stop.
            if ((r = CheckStandardOutput(out)) != CLI_OK)
                break;
            if (++lines == o.count)
                break;
            if (sendNow)
                continue;
            if (o.interval > 0)
                PauseUntil(tstart + o.interval);
            if (!InterruptCaught())
                SendLiveRequest();
            continue;
        }
        AskAgainForLostAnswer();
        if (LiveAnswerOverdue(WATCH_TIMEOUT)) {
            ShowStatus("Timeout RS232-Line!");
            ReportFailure(nullptr);
            r = CLI_LINK;
            break;
        }
        NapWhileNoAnswerCanBeComplete();
        ProcessSystemEvents();
    }
    EndLiveLoop();
    CatchInterrupt(0);
    return r;
}

// The recorder's loop: a line whenever the whole-second count since the last
// line has reached the interval; every line is on disk before the next
// request goes out.
int CmdRecord(const CliOptions &o, FILE *)
{
    int r = CheckOutput(o);
    if (r != CLI_OK)
        return r;
    const char *file = o.output.c_str();
    if ((r = OpenController(o)) != CLI_OK)
        return r;

    const uint16_t interval = (uint16_t)o.interval;
    const long samples = o.samples;
    // Replaces an earlier recording only once the header is on the disk.
    if ((r = WriteRecorderHeader(file, interval)) < 0) {
        ReportFailure((o.output + ": cannot write the recorder file: " + FileErrorText(r)).c_str());
        return CLI_FILE;
    }
    const bool progress = !Quiet() && IsTerminal(2);
    CatchInterrupt(1);
    FirstLiveRequest();
    tstart = Timer();
    uint16_t lastLine = (uint16_t)(uint32_t)Timer();
    graphrefresh = 0;
    long lines = 0;
    r = CLI_OK;
    while (lines < samples) {
        if (InterruptCaught()) {
            r = CLI_INTERRUPTED;
            break;
        }
        uint16_t elapsed = (uint16_t)((uint32_t)Timer() - lastLine);
        if (graphrefresh == 1) {
            graphrefresh = 0;
            if (elapsed >= interval) {
                valNORMA = pp[0];
                valNORMB = pp[1];
                adcCHA = pp[2];
                adcCHB = pp[3];
                if (int w = WriteRecorderLine(file); w < 0) {
                    ReportFailure((o.output + ": cannot write the recorder file: " + FileErrorText(w)).c_str());
                    r = CLI_FILE;
                    break;
                }
                lines++;
                lastLine = (uint16_t)(uint32_t)Timer();
                if (progress)
                    std::fprintf(ErrorStream(), "\r%ld of %ld lines, %ld s left   ", lines, samples,
                                 (samples - lines) * long(interval));
            }
        }
        if (rx_flag == 1 && lines < samples)
            SendLiveRequest();
        else if (lines < samples)
            AskAgainForLostAnswer();
        if (LiveAnswerOverdue(TIMEOUT)) {
            ShowStatus("Timeout RS232-Line!");
            ReportFailure(nullptr);
            r = CLI_LINK;
            break;
        }
        if (rx_flag == 0)
            NapWhileNoAnswerCanBeComplete();
        ProcessSystemEvents();
    }
    if (progress)
        std::fputc('\n', ErrorStream());
    EndLiveLoop();
    CatchInterrupt(0);
    return r;
}

int CmdCurve(const CliOptions &o, FILE *out)
{
    int r = CheckOutput(o);
    if (r == CLI_OK)
        r = OpenController(o);
    if (r != CLI_OK)
        return r;
    DataCurve curve;
    if (FetchDataCurve(o.source, &curve) != 0) {
        ReportFailure(nullptr);
        return CLI_LINK;
    }
    std::string csv = "point,value,maximum,minimum,reference,trigger step\n";
    for (int i = 0; i < 128; i++) {
        char row[64];
        std::snprintf(row, sizeof row, "%d,%u,%u,%u,%u,%u\n", i, unsigned(curve.curve[i]),
                      unsigned(curve.maximum[i]), unsigned(curve.minimum[i]),
                      unsigned(curve.reference[i]), unsigned(curve.step[i]));
        csv += row;
    }
    return WriteOutput(o, csv, out);
}
