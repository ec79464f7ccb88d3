// controller.h - a simulated Q-VAR-RDX3 controller: frame protocol, signals, line timing, faults.
//
// Contract
// - The host side talks to the controller only through host_write/host_read,
//   as if over a serial line. Every call takes the caller's clock reading
//   `now` (seconds, steady, never decreasing); the model keeps no clock.
// - Paced (the default): both directions run at `byte_rate` bytes per second
//   (1920, like 19200 baud 8N1). A request's bytes take 1/byte_rate each; an
//   answer starts `turnaround` seconds after the last byte of its request and
//   its bytes arrive one by one at byte_rate. Unpaced: everything arrives at
//   the moment of the write (fault delays and gaps still apply).
// - Requests are 36-byte frames (00 55, order word, sixteen data words, all
//   big-endian; link/protocol.h). Bytes that do not complete a frame wait for more; bytes that
//   cannot start a frame are dropped until 00 55 comes along. A frame with an
//   unknown order is counted, not answered, and searched for a later 00 55.
// - Signals advance by one sample per live-value request (ORDER_LIVE_VALUES), not by
//   time, so a seed fixes every value the controller ever sends.
// - Faults are plain public data; tests change them between calls.
// - Not thread-safe: one caller at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "link/protocol.h"

namespace qvar::sim {

// The frame protocol is the tool's own (link/protocol.h); these are its sizes
// as the containers here count them.
constexpr size_t   kFrameBytes    = FRAME_BYTES;
constexpr size_t   kWords         = FRAME_WORDS;
constexpr size_t   kFirmwareBytes = FIRMWARE_BYTES;
constexpr size_t   kCurvePoints   = CURVE_POINTS;
constexpr double   kDefaultByteRate  = 1920.0;   // 19200 baud, 10 bits a byte
constexpr double   kDefaultTurnaround = 0.0002;

using Block = std::array<uint16_t, kWords>;

struct Faults {
    enum class Firmware   { normal, short_text, long_text, unterminated };
    enum class Disconnect { none, dead, vanished };

    bool silent = false;               // takes every request, answers none
    std::vector<uint16_t> mute;        // orders taken but left unanswered
    double delay = 0.0;                // extra seconds before every answer starts
    int    split = 1;                  // every answer comes in this many pieces ...
    double split_gap = 0.0;            // ... with this many seconds between them
    int    surplus = 0;                // bytes of noise behind every answer frame
    int    corrupt_word = -1;          // data word 0..15 inverted in every answer frame
    std::optional<uint16_t> echo_word; // echo answer's data word 0 instead of 0x00AA
    Firmware firmware = Firmware::normal;  // short 40, long 80, unterminated 72 bytes
    // dead: the line takes nothing and starts no answer (bytes already under
    // way still arrive). vanished: the port backend fails every call.
    Disconnect disconnect = Disconnect::none;
    long   dead_after = -1;            // the line goes dead after this many requests
    // Live-value word 0..15 that carries the answer's running number (1, 2,
    // ... as live samples are produced) instead of its value, so a host's
    // records can be matched to the answers sent.
    int    number_word = -1;
    // Bursts of this many noise bytes on the line, ahead of the answer to the
    // first live-value request after every `garbage_every` seconds (counted
    // from the first such request since the line was cleared). A burst opens
    // with the head of a live-value frame of another device (lead word
    // AA 55); the rest is noise rich in 00 and 55 bytes.
    int    garbage = 0;
    double garbage_every = 1.0;
    // Every `hit_every` seconds (0: never) noise hits a live-value answer on
    // the line: its first four bytes arrive damaged, so the answer is lost
    // and no other comes for that request, as after a burst over its head.
    double hit_every = 0.0;
};

class Controller {
public:
    explicit Controller(uint64_t seed = 1);

    // Host side of the line.
    void   host_write(const uint8_t *data, size_t count, double now);
    size_t host_read(uint8_t *out, size_t max, double now);   // bytes arrived by `now`
    size_t host_available(double now) const;
    double next_arrival() const;            // arrival of the next byte under way, +inf if none
    double arrival_of(size_t k) const;      // arrival of the k-th byte (1-based) not yet read, +inf if none
    void   host_flush_input(double now);    // drops what has arrived; bytes under way keep coming
    size_t host_output_pending(double now) const;  // request bytes still being sent
    void   clear_line();                    // drops everything under way both ways

    // Line set-up.
    void   set_paced(bool paced) { paced_ = paced; }
    bool   paced() const { return paced_; }
    void   set_byte_rate(double bytesPerSecond) { byte_rate_ = bytesPerSecond; }
    double byte_rate() const { return byte_rate_; }
    void   set_turnaround(double seconds) { turnaround_ = seconds; }

    Faults faults;

    // Memory. Channel 0 is A, anything else B.
    Block ram(int channel) const { return ram_[channel ? 1 : 0]; }
    Block eeprom(int channel) const { return eeprom_[channel ? 1 : 0]; }
    void  set_ram(int channel, const Block &block);
    void  set_eeprom(int channel, const Block &block);
    static Block factory_block(int channel);
    void  factory_reset();                 // EEPROM and RAM to the factory sets
    void  reload_ram();                    // RAM from EEPROM, as the reset order does

    // EEPROM file: "A" or "B" and sixteen numbers per line, '#' comments.
    bool save_eeprom(const std::string &path, std::string *error = nullptr) const;
    bool load_eeprom(const std::string &path, std::string *error = nullptr);

    // Signals.
    void     set_seed(uint64_t seed);      // also restarts the signals at sample 0
    uint64_t seed() const { return seed_; }
    int64_t  sample() const { return sample_; }   // live samples produced so far
    Block    live_values() const { return live_; } // the last live-value answer's words
    std::array<uint16_t, kCurvePoints> curve(int source) const;  // what order 9 serves

    std::string firmware_line() const;     // the text of the firmware answer, no padding

    // Counters.
    uint64_t requests(uint16_t order) const;
    uint64_t requests_total() const { return requests_total_; }
    uint64_t bytes_received() const { return bytes_received_; }
    uint64_t answers_sent() const { return answers_sent_; }
    // When the first and the last request counted were complete: the pace of
    // the host's requests, free of where a measurement's window cuts them.
    double   first_request_at() const { return first_request_; }
    double   last_request_at() const { return last_request_; }
    // When each answer counted was complete at the host (its last byte), the
    // first 65536 of them.
    const std::vector<double> &answer_times() const { return answer_times_; }
    void     reset_counters();

private:
    struct Arrival { double time; uint8_t byte; };

    void take_byte(uint8_t b, double at);
    void handle(const uint8_t *frame, double done);
    void memory_order(uint16_t order, const Block &data, bool answer, double done);
    void send_firmware(double done);
    void send_curve_block(const Block &data, double done);
    void command(uint16_t order, bool answer, double done);
    void send_frame(uint16_t order, const Block &data, double done, bool hit = false);
    bool hit_due(double now);
    void send_bytes(std::vector<uint8_t> bytes, double done);
    double put_on_line(const std::vector<uint8_t> &bytes, double at, size_t pieces = 1);
    void maybe_garbage(double now);
    std::vector<uint8_t> garbage_burst();
    void next_sample();

    // The signal as a pure function of (seed, channel, sample index).
    int  raw(int channel, int64_t k) const;
    int  norm(int channel, int64_t k) const;
    bool object_at(int channel, int64_t k) const;
    int  max_of(int channel) const;
    int  common(int word) const { return ram_[0][word]; }

    std::array<Block, 2> ram_{}, eeprom_{};
    std::vector<uint8_t> inbuf_;
    std::deque<Arrival>  out_;
    double tx_free_ = -std::numeric_limits<double>::infinity();
    double rx_free_ = -std::numeric_limits<double>::infinity();
    bool   paced_ = true;
    double byte_rate_ = kDefaultByteRate;
    double turnaround_ = kDefaultTurnaround;

    uint64_t seed_ = 1;
    int64_t  sample_ = 0;
    Block    live_{};
    bool     tracking_ = false;
    std::array<int, 2> max_{}, min_{};
    double   next_garbage_ = -std::numeric_limits<double>::infinity();
    uint64_t bursts_ = 0;
    double   next_hit_ = -std::numeric_limits<double>::infinity();

    std::map<uint16_t, uint64_t> per_order_;
    uint64_t requests_total_ = 0;
    uint64_t bytes_received_ = 0;
    uint64_t answers_sent_ = 0;
    double   first_request_ = 0, last_request_ = 0;
    std::vector<double> answer_times_;
};

} // namespace qvar::sim
