// controller.cpp - the simulated controller: request parsing, answers, signals and line timing.
#include "sim/controller.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace qvar::sim {
namespace {

constexpr char kFirmwareLine[] = "Q-VAR-RDX3 simulated controller FW 2.20 (sim)";
constexpr size_t kShortFirmware = 40;
constexpr size_t kLongFirmware  = 80;
constexpr uint8_t kSyncHigh = SYNC_WORD >> 8;
constexpr uint8_t kSyncLow  = SYNC_WORD & 0xFF;

// Objects pass the sensors once per slot of this many samples; channel B sits
// downstream and sees each object a few samples after channel A.
constexpr int64_t kSlot       = 80;
constexpr int64_t kSlotLead   = 20;
constexpr int64_t kBDelay     = 6;
constexpr int     kBaseline[] = {410, 520};
constexpr int     kNormMax[]  = {3600, 3400};   // the channels' calibrated full scale
constexpr int     kNoise      = 18;
// How far back a triggered recording looks for its edge before it gives up
// and records free-running.
constexpr int64_t kTriggerSearch = 4000;

uint64_t mix(uint64_t x)
{
    x += 0x9e3779b97f4a7c15ull;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

// A well-spread number for one (seed, purpose, index) triple; std::mt19937's
// distributions differ between libraries, this does not.
uint64_t noise(uint64_t seed, uint64_t tag, int64_t index)
{
    return mix(seed ^ mix(tag * 0x100000001b3ull ^ mix(static_cast<uint64_t>(index))));
}

int64_t floor_div(int64_t a, int64_t b)
{
    int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

uint16_t be16(const uint8_t *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

void put16(std::vector<uint8_t> &out, uint16_t w)
{
    out.push_back(static_cast<uint8_t>(w >> 8));
    out.push_back(static_cast<uint8_t>(w & 0xFF));
}

// Where one object crosses a slot, and how high it rises.
struct Passage { int64_t start; int64_t length; int height; };

Passage passage(uint64_t seed, int64_t slot)
{
    const uint64_t r = noise(seed, 1, slot);
    return {slot * kSlot + kSlotLead + static_cast<int64_t>(r % 16),
            16 + static_cast<int64_t>((r >> 8) % 9),
            2900 + static_cast<int>((r >> 16) % 501)};
}

} // namespace

Controller::Controller(uint64_t seed)
{
    factory_reset();
    set_seed(seed);
}

Block Controller::factory_block(int channel)
{
    return {static_cast<uint16_t>(channel ? 1 : 0), 500, 512, 100, 0xC000 | 600, 20, 1, 100, 8,
            1, 0, 1, 0, 0, 10, 20};
}

void Controller::factory_reset()
{
    for (int ch = 0; ch < 2; ++ch)
        eeprom_[ch] = ram_[ch] = factory_block(ch);
}

void Controller::reload_ram() { ram_ = eeprom_; }

void Controller::set_ram(int channel, const Block &block) { ram_[channel ? 1 : 0] = block; }
void Controller::set_eeprom(int channel, const Block &block) { eeprom_[channel ? 1 : 0] = block; }

void Controller::set_seed(uint64_t seed)
{
    seed_ = seed;
    sample_ = 0;
    tracking_ = false;
    live_ = {};
}

void Controller::reset_counters()
{
    per_order_.clear();
    requests_total_ = bytes_received_ = answers_sent_ = 0;
    first_request_ = last_request_ = 0;
    answer_times_.clear();
}

uint64_t Controller::requests(uint16_t order) const
{
    auto it = per_order_.find(order);
    return it == per_order_.end() ? 0 : it->second;
}

std::string Controller::firmware_line() const { return kFirmwareLine; }

// ---------------------------------------------------------------- the line

void Controller::host_write(const uint8_t *data, size_t count, double now)
{
    const double byteTime = 1.0 / byte_rate_;
    for (size_t i = 0; i < count; ++i) {
        double at = now;
        if (paced_) {
            at = std::max(now, tx_free_) + byteTime;
            tx_free_ = at;
        }
        take_byte(data[i], at);
    }
}

size_t Controller::host_read(uint8_t *out, size_t max, double now)
{
    size_t n = 0;
    while (n < max && !out_.empty() && out_.front().time <= now) {
        out[n++] = out_.front().byte;
        out_.pop_front();
    }
    return n;
}

size_t Controller::host_available(double now) const
{
    size_t n = 0;
    for (const Arrival &a : out_) {
        if (a.time > now)
            break;
        ++n;
    }
    return n;
}

double Controller::next_arrival() const
{
    return out_.empty() ? std::numeric_limits<double>::infinity() : out_.front().time;
}

double Controller::arrival_of(size_t k) const
{
    return k >= 1 && k <= out_.size() ? out_[k - 1].time : std::numeric_limits<double>::infinity();
}

void Controller::host_flush_input(double now)
{
    while (!out_.empty() && out_.front().time <= now)
        out_.pop_front();
}

size_t Controller::host_output_pending(double now) const
{
    if (!paced_ || tx_free_ <= now)
        return 0;
    return static_cast<size_t>(std::ceil((tx_free_ - now) * byte_rate_ - 1e-9));
}

void Controller::clear_line()
{
    out_.clear();
    inbuf_.clear();
    tx_free_ = rx_free_ = -std::numeric_limits<double>::infinity();
    next_garbage_ = -std::numeric_limits<double>::infinity();
    next_hit_ = -std::numeric_limits<double>::infinity();
}

void Controller::take_byte(uint8_t b, double at)
{
    if (faults.dead_after >= 0 && requests_total_ >= static_cast<uint64_t>(faults.dead_after))
        faults.disconnect = Faults::Disconnect::dead;
    if (faults.disconnect != Faults::Disconnect::none)
        return;
    ++bytes_received_;
    inbuf_.push_back(b);
    // A frame can only start with the sync word; anything else is line noise
    // or the tail of a frame we joined half-way.
    while (!inbuf_.empty() && (inbuf_[0] != kSyncHigh || (inbuf_.size() >= 2 && inbuf_[1] != kSyncLow)))
        inbuf_.erase(inbuf_.begin());
    if (inbuf_.size() < kFrameBytes)
        return;
    const uint16_t order = be16(inbuf_.data() + 2);
    handle(inbuf_.data(), at);
    if (IsKnownOrder(order)) {
        inbuf_.clear();
        return;
    }
    // An unknown order most likely means we locked onto a stray 00 55 ahead
    // of the real frame; look again from the next sync inside what we took.
    size_t next = 1;
    while (next < inbuf_.size() &&
           !(inbuf_[next] == kSyncHigh && (next + 1 == inbuf_.size() || inbuf_[next + 1] == kSyncLow)))
        ++next;
    inbuf_.erase(inbuf_.begin(), inbuf_.begin() + static_cast<std::ptrdiff_t>(next));
}

// An answer leaves the controller once the line back is free; pieces and
// delays are how a flaky device or adapter looks from the host.
void Controller::send_bytes(std::vector<uint8_t> bytes, double done)
{
    if (bytes.empty())
        return;
    const double start = done + (paced_ ? turnaround_ : 0.0) + std::max(0.0, faults.delay);
    const size_t pieces = std::clamp<size_t>(faults.split < 1 ? 1 : faults.split, 1, bytes.size());
    const double t = put_on_line(bytes, start, pieces);
    ++answers_sent_;
    if (answer_times_.size() < 65536)
        answer_times_.push_back(t);
}

// Answers and noise alike take their turn on the line back, in `pieces`
// with a gap between them; the time the last byte has arrived.
double Controller::put_on_line(const std::vector<uint8_t> &bytes, double at, size_t pieces)
{
    const double byteTime = paced_ ? 1.0 / byte_rate_ : 0.0;
    double t = std::max(at, rx_free_);
    const size_t n = bytes.size();
    size_t piece = 0;
    for (size_t i = 0; i < n; ++i) {
        const size_t p = i * pieces / n;
        if (p != piece) {
            t += std::max(0.0, faults.split_gap);
            piece = p;
        }
        t += byteTime;
        out_.push_back({t, bytes[i]});
    }
    rx_free_ = t;
    return t;
}

namespace {

// Every `every` seconds, counted from the first call.
bool Due(double &next, double every, double now)
{
    every = std::max(0.0, every);
    if (!std::isfinite(next))
        next = now + every;
    if (now < next)
        return false;
    next = now + every;
    return true;
}

} // namespace

void Controller::maybe_garbage(double now)
{
    if (faults.garbage <= 0 || faults.disconnect != Faults::Disconnect::none ||
        !Due(next_garbage_, faults.garbage_every, now))
        return;
    put_on_line(garbage_burst(), now);
}

// A 00 55 followed by the order word of a request would be a forged answer
// head, which no receiver can tell from a true one; the noise makes every
// such start carry an order no request has.
std::vector<uint8_t> Controller::garbage_burst()
{
    const size_t n = static_cast<size_t>(faults.garbage);
    std::vector<uint8_t> bytes(n);
    const uint64_t burst = bursts_++;
    for (size_t i = 0; i < n; ++i) {
        const uint64_t r = noise(seed_, 7, static_cast<int64_t>(burst * 65536 + i));
        bytes[i] = (r & 3) == 0 ? 0x00 : (r & 3) == 1 ? kSyncLow : static_cast<uint8_t>(r >> 8);
    }
    const uint8_t head[] = {0xAA, kSyncLow, 0x00, static_cast<uint8_t>(ORDER_LIVE_VALUES)};
    std::copy_n(head, std::min(n, sizeof head), bytes.begin());
    for (size_t i = 0; i + 3 < n; ++i)
        if (bytes[i] == kSyncHigh && bytes[i + 1] == kSyncLow && bytes[i + 2] == 0 && IsKnownOrder(bytes[i + 3]))
            bytes[i + 3] = static_cast<uint8_t>(0x80 | bytes[i + 3]);
    return bytes;
}

bool Controller::hit_due(double now)
{
    return faults.hit_every > 0 && Due(next_hit_, faults.hit_every, now);
}

void Controller::send_frame(uint16_t order, const Block &data, double done, bool hit)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(kFrameBytes + std::max(0, faults.surplus));
    put16(bytes, SYNC_WORD);
    put16(bytes, order);
    for (size_t i = 0; i < kWords; ++i) {
        uint16_t w = data[i];
        if (faults.corrupt_word == static_cast<int>(i))
            w = static_cast<uint16_t>(~w);
        put16(bytes, w);
    }
    if (hit) {
        // Bit errors over the head: neither the lead word nor the order is
        // left, and the data words arrive as sent.
        for (size_t i = 0; i < 4; ++i)
            bytes[i] = static_cast<uint8_t>(bytes[i] ^ 0xA5);
    }
    for (int i = 0; i < faults.surplus; ++i)
        bytes.push_back(static_cast<uint8_t>(0xE0 | (i & 0x0F)));
    send_bytes(std::move(bytes), done);
}

// ---------------------------------------------------------------- orders

void Controller::handle(const uint8_t *frame, double done)
{
    const uint16_t order = be16(frame + 2);
    Block data;
    for (size_t i = 0; i < kWords; ++i)
        data[i] = be16(frame + 4 + 2 * i);
    ++per_order_[order];
    ++requests_total_;
    if (requests_total_ == 1)
        first_request_ = done;
    last_request_ = done;

    const bool answer = !faults.silent &&
        std::find(faults.mute.begin(), faults.mute.end(), order) == faults.mute.end();

    switch (order) {
    case ORDER_WRITE_RAM:
    case ORDER_WRITE_EEPROM:
    case ORDER_READ_RAM:
    case ORDER_READ_EEPROM:
        memory_order(order, data, answer, done);
        return;
    case ORDER_ECHO: {
        Block b = data;
        b[0] = faults.echo_word.value_or(ECHO_ACK);
        if (answer)
            send_frame(order, b, done);
        return;
    }
    case ORDER_FIRMWARE:
        if (answer)
            send_firmware(done);
        return;
    case ORDER_LIVE_VALUES:
        maybe_garbage(done);
        next_sample();
        if (faults.number_word >= 0 && faults.number_word < static_cast<int>(kWords))
            live_[static_cast<size_t>(faults.number_word)] = static_cast<uint16_t>(sample_);
        if (answer)
            send_frame(order, live_, done, hit_due(done));
        return;
    case ORDER_CURVE_BLOCK:
        if (answer)
            send_curve_block(data, done);
        return;
    case ORDER_TEACH:
    case ORDER_RESET:
    case ORDER_REFRESH:
        command(order, answer, done);
        return;
    default:
        return;   // unknown orders are ignored, as by the real firmware
    }
}

// Writes store the block under the channel of its word 0; reads answer with
// that channel's block, labelled with the channel.
void Controller::memory_order(uint16_t order, const Block &data, bool answer, double done)
{
    const int channel = data[PB_CHANNEL] ? 1 : 0;
    if (order == ORDER_WRITE_RAM || order == ORDER_WRITE_EEPROM) {
        Block &dest = order == ORDER_WRITE_RAM ? ram_[channel] : eeprom_[channel];
        dest = data;
        dest[PB_CHANNEL] = static_cast<uint16_t>(channel);
        return;
    }
    if (!answer)
        return;
    Block b = order == ORDER_READ_RAM ? ram_[channel] : eeprom_[channel];
    b[PB_CHANNEL] = static_cast<uint16_t>(channel);
    send_frame(order, b, done);
}

void Controller::send_firmware(double done)
{
    size_t size = kFirmwareBytes;
    char pad = 0;
    switch (faults.firmware) {
    case Faults::Firmware::normal: break;
    case Faults::Firmware::short_text: size = kShortFirmware; break;
    case Faults::Firmware::long_text: size = kLongFirmware; break;
    case Faults::Firmware::unterminated: pad = '.'; break;
    }
    std::vector<uint8_t> text(size, static_cast<uint8_t>(pad));
    const std::string line = firmware_line();
    std::copy_n(line.begin(), std::min(line.size(), size), text.begin());
    send_bytes(std::move(text), done);
}

void Controller::send_curve_block(const Block &data, double done)
{
    const auto points = curve(data[CB_SOURCE]);
    Block b{};
    for (size_t i = 0; i < kWords; ++i) {
        const size_t at = size_t{data[CB_OFFSET]} + i;
        b[i] = at < kCurvePoints ? points[at] : 0;
    }
    send_frame(ORDER_CURVE_BLOCK, b, done);
}

// Teach, reset and refresh acknowledge with channel A's working set.
void Controller::command(uint16_t order, bool answer, double done)
{
    const int64_t now = sample_ > 0 ? sample_ - 1 : 0;
    if (order == ORDER_TEACH)
        ram_[0][PB_REF] = static_cast<uint16_t>(norm(0, now));
    else if (order == ORDER_RESET)
        reload_ram();
    else
        tracking_ = false;
    if (answer)
        send_frame(order, ram_[0], done);
}

// ---------------------------------------------------------------- signals

bool Controller::object_at(int channel, int64_t k) const
{
    if (channel)
        k -= kBDelay;
    const Passage p = passage(seed_, floor_div(k, kSlot));
    return k >= p.start && k < p.start + p.length;
}

int Controller::raw(int channel, int64_t k) const
{
    const int base = kBaseline[channel];
    const int jitter = static_cast<int>(noise(seed_, 2 + channel, k) % (2 * kNoise + 1)) - kNoise;
    const int64_t kk = channel ? k - kBDelay : k;
    const Passage p = passage(seed_, floor_div(kk, kSlot));
    double level = base;
    if (kk >= p.start && kk < p.start + p.length) {
        // Objects have rounded edges: three samples up, three samples down.
        const double x = static_cast<double>(kk - p.start);
        const double frac = std::min({1.0, (x + 1) / 3.0, (p.length - x) / 3.0});
        const double height = channel ? p.height * 0.92 : p.height;
        level = base + (height - base) * frac;
    }
    return std::clamp(static_cast<int>(std::lround(level)) + jitter, 0, 4095);
}

int Controller::max_of(int channel) const { return kNormMax[channel]; }

int Controller::norm(int channel, int64_t k) const
{
    return std::clamp(1024 * raw(channel, k) / max_of(channel), 0, 1024);
}

void Controller::next_sample()
{
    const int64_t k = sample_++;
    const int na = norm(0, k), nb = norm(1, k);
    if (!tracking_) {
        max_ = {na, nb};
        min_ = {na, nb};
        tracking_ = true;
    } else {
        max_ = {std::max(max_[0], na), std::max(max_[1], nb)};
        min_ = {std::min(min_[0], na), std::min(min_[1], nb)};
    }
    int on = 0;
    for (int64_t i = 0; i < kSlot; ++i)
        on += object_at(0, k - i);
    const int ratio = static_cast<int>(1024 * on / kSlot);

    live_[LV_NORM_A] = static_cast<uint16_t>(na);
    live_[LV_NORM_B] = static_cast<uint16_t>(nb);
    live_[LV_ADC_A] = static_cast<uint16_t>(raw(0, k));
    live_[LV_ADC_B] = static_cast<uint16_t>(raw(1, k));
    live_[LV_AMAX] = static_cast<uint16_t>(max_of(0));
    live_[LV_BMAX] = static_cast<uint16_t>(max_of(1));
    live_[LV_MAX_A] = static_cast<uint16_t>(max_[0]);
    live_[LV_MAX_B] = static_cast<uint16_t>(max_[1]);
    live_[LV_MIN_A] = static_cast<uint16_t>(min_[0]);
    live_[LV_MIN_B] = static_cast<uint16_t>(min_[1]);
    live_[LV_TOLVAL] = ram_[0][PB_TOL];
    live_[LV_BTNVAL] = 0;
    live_[LV_INPUTS] =
        static_cast<uint16_t>((object_at(0, k) ? INPUT_A : 0) | (object_at(1, k) ? INPUT_B : 0));
    // The housing warms up slowly over a session and settles.
    live_[LV_TEMP] = static_cast<uint16_t>(31 + std::min<int64_t>(k / 2000, 6));
    live_[LV_TRIGG_HI] = static_cast<uint16_t>(ratio);
    live_[LV_TRIGG_LO] = static_cast<uint16_t>(1024 - ratio);
}

// Recordings are made of the samples up to the latest one produced, so the
// eight block requests of one curve see the same data as long as no live
// request comes in between.
std::array<uint16_t, kCurvePoints> Controller::curve(int source) const
{
    std::array<uint16_t, kCurvePoints> out{};
    const int64_t k = sample_ > 0 ? sample_ - 1 : 0;
    const int mode = common(PB_TRIGMODE);

    if ((source == 0 || source == 1) && (mode == 1 || mode == 2)) {
        const int ch = source;
        const int level = ram_[ch][PB_TRIGGER] & TRIGGER_LEVEL_MASK;
        const int average = std::max<int>(1, common(PB_AVERAGE));
        // The host draws its trigger step at 128 - pretrigger - 8/average;
        // the edge goes to that very point so the two line up.
        const int64_t at = std::clamp<int64_t>(
            int64_t{128} - ram_[ch][PB_PRETRIGGER] - 8 / average, 0, kCurvePoints - 1);
        const int64_t last = k - (static_cast<int64_t>(kCurvePoints) - 1 - at);
        int64_t edge = last;
        for (int64_t c = last; c > last - kTriggerSearch; --c) {
            const int before = norm(ch, c - 1), here = norm(ch, c);
            const bool hit = mode == 1 ? (before < level && here >= level)
                                       : (before >= level && here < level);
            if (hit) {
                edge = c;
                break;
            }
        }
        for (size_t i = 0; i < kCurvePoints; ++i)
            out[i] = static_cast<uint16_t>(norm(ch, edge - at + static_cast<int64_t>(i)));
    } else if (source >= 4 && source <= 7 && (mode == 3 || mode == 4)) {
        // One point per object slot: its peak (MAX) or its floor (MIN).
        const int ch = source & 1;
        const bool wantMax = source <= 5;
        const int64_t offset = ch ? kBDelay : 0;
        const int64_t lastSlot = floor_div(k - offset, kSlot) - 1;
        for (size_t i = 0; i < kCurvePoints; ++i) {
            const int64_t slot = lastSlot - static_cast<int64_t>(kCurvePoints - 1 - i);
            int v = wantMax ? 0 : 1024;
            for (int64_t s = 0; s < kSlot; ++s) {
                const int n = norm(ch, slot * kSlot + offset + s);
                v = wantMax ? std::max(v, n) : std::min(v, n);
            }
            out[i] = static_cast<uint16_t>(v);
        }
    }
    return out;
}

// ---------------------------------------------------------------- EEPROM file

// Written beside the name and renamed over it only once whole: a full disk
// or a failed write leaves the EEPROM the file held, never a cut-off one. A
// link keeps pointing where it did; its target is what gets replaced.
bool Controller::save_eeprom(const std::string &path, std::string *error) const
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path target = path;
    if (fs::is_symlink(target, ec))
        target = fs::weakly_canonical(target, ec);
    if (ec)
        target = path;
    std::random_device rd;
    const fs::path temp = target.parent_path() /
                          ("." + target.filename().string() + ".new-" + std::to_string(rd() % 1000000));
    bool ok = false;
    {
        std::ofstream f(temp, std::ios::trunc);
        if (f) {
            f << "# qvar-sim EEPROM: channel, then sixteen parameter words\n";
            for (int ch = 0; ch < 2; ++ch) {
                f << (ch ? 'B' : 'A');
                for (uint16_t w : eeprom_[ch])
                    f << ' ' << w;
                f << '\n';
            }
            f.close();
            ok = !f.fail();
        }
    }
    if (ok) {
        fs::rename(temp, target, ec);
        ok = !ec;
    }
    if (!ok) {
        fs::remove(temp, ec);
        if (error)
            *error = "cannot write " + path;
    }
    return ok;
}

bool Controller::load_eeprom(const std::string &path, std::string *error)
{
    auto fail = [&](const std::string &why) {
        if (error)
            *error = path + ": " + why;
        return false;
    };
    std::ifstream f(path);
    if (!f)
        return fail("cannot read");
    std::array<Block, 2> blocks{};
    std::array<bool, 2> seen{};
    std::string line;
    int lineNo = 0;
    while (std::getline(f, line)) {
        ++lineNo;
        std::istringstream in(line);
        std::string tag;
        if (!(in >> tag) || tag[0] == '#')
            continue;
        if (tag != "A" && tag != "B")
            return fail("line " + std::to_string(lineNo) + ": expected A or B");
        const int ch = tag == "B";
        for (size_t i = 0; i < kWords; ++i) {
            long v = -1;
            if (!(in >> v) || v < 0 || v > 0xFFFF)
                return fail("line " + std::to_string(lineNo) + ": sixteen numbers 0..65535 expected");
            blocks[ch][i] = static_cast<uint16_t>(v);
        }
        std::string rest;
        if (in >> rest)
            return fail("line " + std::to_string(lineNo) + ": extra text");
        seen[ch] = true;
    }
    if (!seen[0] || !seen[1])
        return fail("both channels A and B are needed");
    eeprom_ = blocks;
    return true;
}

} // namespace qvar::sim
