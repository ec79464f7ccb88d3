// recording_file.cpp - reading a recorder file back: the header with its
// interval, then the tab-separated sample lines, piece by piece on a thread
// of its own.
//
// A day's recording at a short interval runs to a million lines, so lines are
// found with memchr and numbers read by hand; everything before a bad line is
// kept, since a recording cut off by a full disk is still worth looking at.
// The file is never held whole: the shortest sample line ("0\t0\t0\t0\n") is
// 8 bytes and its four numbers take 16, so the samples alone may come to
// twice the file, and a second copy of the text would push a file at the
// size limit past what a desktop machine has to spare.
#include "platform/files/files_internal.h"
#include "platform/ui/recording_viewer.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace qvar::ui {
namespace {

constexpr std::string_view kHeader = "Q-VAR-RDX3-RECORDER-FILE: Time-Interval[s]: ";
constexpr size_t kShortestLine = 8;
constexpr size_t kPiece = size_t(1) << 20;   // read at a time; a longer line grows it

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

} // namespace

// Room for the most samples `size` bytes can hold is asked for at once: only
// the pages the samples fill are ever touched, and a vector that grows
// instead would hold its old and new copy at the same moment.
RecordingParser::RecordingParser(size_t size)
{
    values_.reserve(size / kShortestLine * kRecordingColumns);
    rec_.lowest.fill(UINT32_MAX);
    rec_.highest.fill(0);
}

void RecordingParser::stop(const char *why)
{
    rec_.badLine = line_;
    rec_.problem = QStringLiteral("line %1: %2").arg(line_).arg(QLatin1String(why));
}

// The first line: the header, the interval and its line end. Refused as soon
// as what has come differs from the header, so a large file of something
// else is not read to its end first.
size_t RecordingParser::header(const char *p, size_t n)
{
    if (std::memcmp(p, kHeader.data(), std::min(n, kHeader.size())) != 0) {
        stop("no recorder-file header");
        return 0;
    }
    const char *eol = n > kHeader.size()
                          ? static_cast<const char *>(std::memchr(p + kHeader.size(), '\n', n - kHeader.size()))
                          : nullptr;
    if (!eol)
        return 0;
    const char *q = p + kHeader.size();
    uint32_t interval = 0;
    bool tooLarge = false;
    if (!readNumber(q, eol, interval, tooLarge) || q != lineEnd(q, eol)) {
        stop("no interval");
        return 0;
    }
    rec_.interval = interval;
    line_ = 2;
    return size_t(eol + 1 - p);
}

size_t RecordingParser::lines(const char *text, size_t n)
{
    if (stopped())
        return 0;
    seen_ = seen_ || n > 0;
    size_t used = 0;
    if (line_ == 1 && (used = header(text, n)) == 0)
        return 0;
    const char *p = text + used, *end = text + n;
    uint32_t v[kRecordingColumns];
    while (p < end) {
        const char *eol = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        if (!eol)
            break;
        if (const char *why = parseLine(p, lineEnd(p, eol), v); *why) {
            stop(why);
            break;
        }
        values_.insert(values_.end(), v, v + kRecordingColumns);
        for (int k = 0; k < kRecordingColumns; ++k) {
            rec_.lowest[size_t(k)] = std::min(rec_.lowest[size_t(k)], v[k]);
            rec_.highest[size_t(k)] = std::max(rec_.highest[size_t(k)], v[k]);
        }
        p = eol + 1;
        ++line_;
    }
    return size_t(p - text);
}

Recording RecordingParser::finish(std::string_view rest)
{
    if (!stopped()) {
        if (!seen_) {
            rec_.badLine = 1;
            rec_.problem = QStringLiteral("empty file");
        } else if (line_ == 1 && rest.substr(0, kHeader.size()) != kHeader) {
            stop("no recorder-file header");
        } else if (!rest.empty()) {
            stop("cut off");
        }
    }
    rec_.values = std::make_shared<const std::vector<uint32_t>>(std::move(values_));
    return std::move(rec_);
}

Recording ParseRecording(std::string_view text)
{
    RecordingParser parser(text.size());
    const size_t used = parser.lines(text.data(), text.size());
    return parser.finish(text.substr(used));
}

// ---------------------------------------------------------------- the reading thread

namespace {

// The program ends without closing its windows; a reading still under way
// then is stopped before the run-time's objects go, which it may be using.
struct Running {
    std::set<RecordingRead *> reads;
    ~Running()
    {
        for (RecordingRead *r : std::set<RecordingRead *>(reads))
            r->cancel();
    }
};

Running &running()
{
    static Running r;
    return r;
}

} // namespace

RecordingRead::~RecordingRead() { cancel(); }

namespace {

QString cannotRead(int rc)
{
    return rc == FILE_ERR_TOO_BIG ? QStringLiteral("cannot read: larger than %1 MiB").arg(kRecordingMaxBytes >> 20)
         : rc == FILE_ERR_OPEN    ? QStringLiteral("cannot read: missing, unreadable or not a regular file")
                                  : QStringLiteral("cannot read: read failed");
}

} // namespace

int RecordingRead::start(const QByteArray &path, std::function<void(Recording)> done, Recording *failed)
{
    auto file = std::make_unique<files::FileReader>();
    if (int rc = file->open(path.constData(), kRecordingMaxBytes); rc != 0) {
        failed->problem = cannotRead(rc);
        return rc;
    }
    size_ = file->size();
    running().reads.insert(this);
    thread_ = std::thread([this, f = std::move(file), done = std::move(done)] {
        Recording r = readAll(*f);
        if (!cancelled_.load())
            done(std::move(r));
    });
    return 0;
}

// Runs on the reading thread: it touches nothing but the file, its own
// buffers and the two counters the window looks at.
Recording RecordingRead::readAll(files::FileReader &file)
{
    RecordingParser parser(file.size());
    std::vector<char> buf(kPiece);
    size_t have = 0;
    while (!cancelled_.load() && !parser.stopped()) {
        if (have == buf.size())   // one line fills it: the file's bound is the line's
            buf.resize(std::min(buf.size() * 2, kRecordingMaxBytes + 1));
        const long n = file.read(buf.data() + have, buf.size() - have);
        if (n < 0) {
            Recording r;
            r.problem = cannotRead(int(n));
            return r;
        }
        if (n == 0)
            break;
        have += size_t(n);
        read_.fetch_add(uint64_t(n));
        const size_t used = parser.lines(buf.data(), have);
        std::memmove(buf.data(), buf.data() + used, have - used);
        have -= used;
    }
    return parser.finish(std::string_view(buf.data(), have));
}

double RecordingRead::fraction() const
{
    return size_ == 0 ? 1.0 : std::min(1.0, double(read_.load()) / double(size_));
}

void RecordingRead::cancel()
{
    cancelled_.store(true);
    if (thread_.joinable())
        thread_.join();
    running().reads.erase(this);
}

} // namespace qvar::ui
