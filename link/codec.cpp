// codec.cpp - the parameter block: one channel's parameter set as sixteen
// 16-bit words. A plain word-for-word copy: the controller, not the tool,
// owns the meaning and the ranges of the values.
#include "state/qvar.h"
#include "link/com232.h"
#include "link/protocol.h"

namespace {

// Which variable each word of the block carries, for channel A and for
// channel B; the common words name the same variable twice.
struct BlockWord {
    int      word;
    int32_t *a;
    int32_t *b;
};

const BlockWord BLOCK[] = {
    {PB_POWER, &powerA, &powerB},
    {PB_REF, &refA, &refB},
    {PB_TOL, &tolA, &tolB},
    {PB_TRIGGER, &triglvlA, &triglvlB},
    {PB_HYSTERESIS, &hysteresis, &hysteresis},
    {PB_POLARITY, &polarity, &polarity},
    {PB_HOLD, &hold, &hold},
    {PB_AVERAGE, &average, &average},
    {PB_HWMODE, &hwmode, &hwmode},
    {PB_EVALMODE, &evalmode, &evalmode},
    {PB_TRIGMODE, &trigmode, &trigmode},
    {PB_OUTMODE, &outmode, &outmode},
    {PB_ANAMODE, &anamode, &anamode},
    {PB_SCANTIME, &scantime, &scantime},
    {PB_PRETRIGGER, &pretriggerA, &pretriggerB},
};
static_assert(sizeof BLOCK / sizeof BLOCK[0] == FRAME_WORDS - 1, "every word but the channel");

int32_t *VariableOf(const BlockWord &w, uint16_t channel)
{
    return channel == CHANNEL_A ? w.a : w.b;
}

} // namespace

void CopyVarsToPP(uint16_t channel)
{
    pp[PB_CHANNEL] = channel;
    for (const BlockWord &w : BLOCK)
        pp[w.word] = (uint16_t)*VariableOf(w, channel);
}

// Word 0 is deliberately ignored: the caller's channel decides, so a block
// read for B lands in B even if the controller labels it otherwise.
void CopyPPtoVars(uint16_t channel)
{
    for (const BlockWord &w : BLOCK)
        *VariableOf(w, channel) = pp[w.word];
}

void PackParaBlocks(uint16_t blocks[2][16])
{
    for (uint16_t ch = CHANNEL_A; ch <= CHANNEL_B; ch++) {
        CopyVarsToPP(ch);
        for (int i = 0; i < FRAME_WORDS; i++)
            blocks[ch][i] = pp[i];
    }
}
