// verify.cpp - reading a sent parameter set back and naming what differs.
//
// The write orders get no answer, so the only way to know what the
// controller took is to ask for it again from the same memory. The tool's
// Send and qvar-cli's send --verify both end here, so they judge alike.
#include "link/com232.h"

#include "link/protocol.h"
#include "platform/clock.h"
#include "state/qvar.h"

#include <cstdio>

namespace {

const char *const BLOCK_WORD_NAMES[FRAME_WORDS] = {
    "channel", "power",    "ref",      "tol",      "triglvl", "hysteresis", "polarity", "hold",
    "average", "hwmode",   "evalmode", "trigmode", "outmode", "anamode",    "scantime", "pretrigger"};

} // namespace

const char *ParamWordName(int word)
{
    return word >= 0 && word < FRAME_WORDS ? BLOCK_WORD_NAMES[word] : "?";
}

int VerifyParaBlocks(int32_t memory, const uint16_t sent[2][16], VerifyOutcome *out)
{
    VerifyOutcome o{};
    // Channel B's block needs its time on the line and in the controller
    // before the read-back's flush, as between any two blocks.
    Delay(0.1);
    for (uint16_t ch = CHANNEL_A; ch <= CHANNEL_B; ch++) {
        PushGET(memory, ch);
        if (rx_flag != 1) {
            o.unanswered = 1;
            break;
        }
        // Word 0 only says which channel the block is for.
        for (int w = PB_POWER; w < FRAME_WORDS; w++) {
            if (pp[w] == sent[ch][w])
                continue;
            o.differences[o.count++] = BlockDifference{ch, w, sent[ch][w], pp[w]};
        }
    }
    if (out)
        *out = o;
    return !o.unanswered && o.count == 0;
}

void DescribeDifference(const BlockDifference &d, char *text, int size)
{
    std::snprintf(text, size_t(size), "channel %c word %d (%s): sent %u, the controller holds %u",
                  d.channel ? 'B' : 'A', d.word, ParamWordName(d.word), unsigned(d.sent),
                  unsigned(d.held));
}
