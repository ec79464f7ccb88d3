// recording_file.cpp - reading a recorder file back: the header with its
// interval, then the tab-separated sample lines.
//
// A day's recording at a short interval runs to a million lines, so lines are
// found with memchr and numbers read by hand; everything before a bad line is
// kept, since a recording cut off by a full disk is still worth looking at.
#include "platform/files/files_internal.h"
#include "platform/ui/recording_viewer.h"

#include <QFile>

#include <cstring>

namespace qvar::ui {
namespace {

constexpr std::string_view kHeader = "Q-VAR-RDX3-RECORDER-FILE: Time-Interval[s]: ";

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// One unsigned 32-bit number at *p, which moves past it; false (p unmoved)
// when there is no digit there or the number does not fit.
bool readNumber(const char *&p, const char *end, uint32_t &v, bool &tooLarge)
{
    const char *q = p;
    uint64_t n = 0;
    while (q < end && isDigit(*q)) {
        n = n * 10 + uint64_t(*q - '0');
        if (n > UINT32_MAX) {
            tooLarge = true;
            return false;
        }
        ++q;
    }
    if (q == p)
        return false;
    v = uint32_t(n);
    p = q;
    return true;
}

// Parses one sample line [p, end) into v; "" or why it is no sample line.
const char *parseLine(const char *p, const char *end, uint32_t v[kRecordingColumns])
{
    for (int k = 0; k < kRecordingColumns; ++k) {
        if (k > 0) {
            if (p == end)
                return "values missing";
            if (*p != '\t')
                return "not a number";
            ++p;
        }
        bool tooLarge = false;
        if (!readNumber(p, end, v[k], tooLarge))
            return tooLarge ? "number too large" : p == end && k > 0 ? "values missing" : "not a number";
    }
    if (p == end)
        return "";
    return *p == '\t' ? "more than 4 values" : "not a number";
}

// The line [p, eol) without a CR before its LF.
const char *lineEnd(const char *p, const char *eol) { return eol > p && eol[-1] == '\r' ? eol - 1 : eol; }

void stop(Recording &r, int line, const char *why)
{
    r.badLine = line;
    r.problem = QStringLiteral("line %1: %2").arg(line).arg(QLatin1String(why));
}

} // namespace

Recording ParseRecording(std::string_view text)
{
    Recording r;
    const char *p = text.data(), *end = p + text.size();
    if (text.empty()) {
        r.badLine = 1;
        r.problem = QStringLiteral("empty file");
        return r;
    }
    if (text.substr(0, kHeader.size()) != kHeader) {
        stop(r, 1, "no recorder-file header");
        return r;
    }
    p += kHeader.size();
    const char *eol = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
    uint32_t interval = 0;
    bool tooLarge = false;
    if (!eol || !readNumber(p, eol, interval, tooLarge) || p != lineEnd(p, eol)) {
        stop(r, 1, eol ? "no interval" : "cut off");
        return r;
    }
    r.interval = interval;
    p = eol + 1;
    // About 22 bytes a line: reserve once instead of growing through copies.
    r.values.reserve(size_t(end - p) / 20 * kRecordingColumns + kRecordingColumns);
    uint32_t v[kRecordingColumns];
    for (int line = 2; p < end; ++line) {
        eol = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        if (!eol) {
            stop(r, line, "cut off");
            break;
        }
        if (const char *why = parseLine(p, lineEnd(p, eol), v); *why) {
            stop(r, line, why);
            break;
        }
        r.values.insert(r.values.end(), v, v + kRecordingColumns);
        p = eol + 1;
    }
    r.values.shrink_to_fit();
    return r;
}

Recording ReadRecording(const QString &path)
{
    std::string text;
    const int rc = files::ReadRegularFile(QFile::encodeName(path).constData(), kRecordingMaxBytes, text);
    if (rc < 0) {
        Recording r;
        r.problem = rc == FILE_ERR_TOO_BIG ? QStringLiteral("cannot read: larger than %1 MiB").arg(kRecordingMaxBytes >> 20)
                  : rc == FILE_ERR_OPEN    ? QStringLiteral("cannot read: missing, unreadable or not a regular file")
                                           : QStringLiteral("cannot read: read failed");
        return r;
    }
    return ParseRecording(text);
}

} // namespace qvar::ui
