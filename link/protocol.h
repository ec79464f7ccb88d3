// protocol.h - the controller's frame protocol by name: frame shape, order
// codes, the words of the parameter block and of the live-value answer, the
// graph sources, the time-outs and the receive callback's event bits.
//
// Plain constants and inline predicates, nothing else: the tool's link, its
// subsystems, the simulated controller and the tests all read the protocol
// from here, so the header includes nothing and depends on nothing.
#pragma once

#include <cstdint>

// ---- frames -----------------------------------------------------------------
// Request and answer: sync word, order word, FRAME_WORDS data words, all
// big-endian.
constexpr uint16_t SYNC_WORD      = 0x0055;
constexpr int      FRAME_WORDS    = 16;
constexpr int      FRAME_BYTES    = 2 * FRAME_WORDS + 4;   // 36
constexpr int      FRAME_HEADER   = 4;                      // sync and order words
constexpr uint16_t ECHO_ACK       = 0x00AA;                 // data word 0 of the echo answer
constexpr int      FIRMWARE_BYTES = 72;                     // the firmware answer: text, no frame

// ---- order codes ------------------------------------------------------------
enum ProtocolOrder : uint16_t {
    ORDER_WRITE_RAM    = 1,    // parameter block to RAM, no answer
    ORDER_READ_RAM     = 2,    // parameter block of word 0's channel from RAM
    ORDER_WRITE_EEPROM = 3,    // parameter block to EEPROM, no answer
    ORDER_READ_EEPROM  = 4,    // parameter block of word 0's channel from EEPROM
    ORDER_ECHO         = 5,    // line check: data word 0 of the answer is ECHO_ACK
    ORDER_TEACH        = 6,    // channel A's reference from the current signal
    ORDER_FIRMWARE     = 7,    // FIRMWARE_BYTES of text
    ORDER_LIVE_VALUES  = 8,    // the live-value answer (LiveWord)
    ORDER_CURVE_BLOCK  = 9,    // 16 points of a recorded curve (CurveWord)
    ORDER_RESET        = 10,   // RAM reloaded from EEPROM
    ORDER_REFRESH      = 11,   // minimum and maximum tracking restarted
};
constexpr uint16_t ORDER_FIRST = ORDER_WRITE_RAM;
constexpr uint16_t ORDER_LAST  = ORDER_REFRESH;

inline bool IsKnownOrder(int order) { return order >= ORDER_FIRST && order <= ORDER_LAST; }

// ---- parameter block: one channel's parameter set ---------------------------
// Words PB_HYSTERESIS..PB_SCANTIME are common to both channels; the others
// belong to the block's channel.
enum ParamWord {
    PB_CHANNEL = 0, PB_POWER, PB_REF, PB_TOL, PB_TRIGGER, PB_HYSTERESIS, PB_POLARITY, PB_HOLD,
    PB_AVERAGE, PB_HWMODE, PB_EVALMODE, PB_TRIGMODE, PB_OUTMODE, PB_ANAMODE, PB_SCANTIME,
    PB_PRETRIGGER,
};
enum { CHANNEL_A = 0, CHANNEL_B = 1 };
// The trigger word: bits 15-14 select the trigger kind, bits 13-0 the level.
constexpr uint16_t TRIGGER_BITS_MASK  = 0xC000;
constexpr uint16_t TRIGGER_LEVEL_MASK = 0x3FFF;

// ---- live-value answer (ORDER_LIVE_VALUES) ----------------------------------
enum LiveWord {
    LV_NORM_A = 0, LV_NORM_B, LV_ADC_A, LV_ADC_B, LV_AMAX, LV_BMAX, LV_MAX_A, LV_MAX_B,
    LV_MIN_A, LV_MIN_B, LV_TOLVAL, LV_BTNVAL, LV_INPUTS, LV_TEMP, LV_TRIGG_HI, LV_TRIGG_LO,
};
// The inputs word: one bit per channel's switching output.
constexpr uint16_t INPUT_A = 0x0001;
constexpr uint16_t INPUT_B = 0x0100;

// ---- curve blocks (ORDER_CURVE_BLOCK) ---------------------------------------
enum CurveWord { CB_OFFSET = 0, CB_SOURCE = 1 };   // request words; the rest are zero
constexpr int CURVE_POINTS       = 128;
constexpr int CURVE_BLOCK_POINTS = FRAME_WORDS;
constexpr int CURVE_BLOCKS       = CURVE_POINTS / CURVE_BLOCK_POINTS;   // 8

// ---- graph sources: the values of the graph source ring ---------------------
enum GraphSource {
    SOURCE_NORM_A = 0, SOURCE_NORM_B, SOURCE_NORM_AB, SOURCE_NORM_T,
    SOURCE_MAX_A, SOURCE_MAX_B, SOURCE_MIN_A, SOURCE_MIN_B,
    SOURCE_RAW = 8, SOURCE_NONE = 9,
};

// The sources the controller keeps a curve of and the NORM chart draws.
inline bool IsNormSource(int source) { return source >= SOURCE_NORM_A && source <= SOURCE_MIN_B; }

// The sources that show channel B: its curve lands in yArrayB, its band and
// colour are channel B's.
inline bool IsChannelBSource(int source)
{
    return source == SOURCE_NORM_B || source == SOURCE_MAX_B || source == SOURCE_MIN_B;
}

// ---- time-outs, in seconds --------------------------------------------------
constexpr double ANSWER_TIMEOUT   = 1.5;   // an answer frame, and a command's acknowledgement
constexpr double PORT_TIMEOUT     = 2.0;   // the serial service's time-out for one read or write
constexpr double FIRMWARE_TIMEOUT = 2.0;   // the firmware text
constexpr double SCOPE_TIMEOUT    = 2.0;   // the scope loop's wait for the next live answer

// ---- receive callback events ------------------------------------------------
constexpr int RX_EVENT_SYNC_CHAR = 0x0002;   // the event character (the sync word's low byte) came in
constexpr int RX_EVENT_TX_EMPTY  = 0x0004;   // the output queue ran empty
constexpr int RX_EVENT_FRAME     = 0x8000;   // a whole frame's worth of bytes is queued
constexpr int RX_EVENT_MASK = RX_EVENT_FRAME | RX_EVENT_SYNC_CHAR | RX_EVENT_TX_EMPTY;   // 0x8006
