// codec.cpp - the parameter block: one channel's parameter set as sixteen
// 16-bit words. A plain word-for-word copy: the controller, not the tool,
// owns the meaning and the ranges of the values.
#include "state/qvar.h"
#include "link/com232.h"

void CopyVarsToPP(uint16_t channel)
{
    pp[0] = channel;
    if (channel == 0) {
        pp[1] = (uint16_t)powerA;
        pp[2] = (uint16_t)refA;
        pp[3] = (uint16_t)tolA;
        pp[4] = (uint16_t)triglvlA;
        pp[15] = (uint16_t)pretriggerA;
    } else {
        pp[1] = (uint16_t)powerB;
        pp[2] = (uint16_t)refB;
        pp[3] = (uint16_t)tolB;
        pp[4] = (uint16_t)triglvlB;
        pp[15] = (uint16_t)pretriggerB;
    }
    pp[5] = (uint16_t)hysteresis;
    pp[6] = (uint16_t)polarity;
    pp[7] = (uint16_t)hold;
    pp[8] = (uint16_t)average;
    pp[9] = (uint16_t)hwmode;
    pp[10] = (uint16_t)evalmode;
    pp[11] = (uint16_t)trigmode;
    pp[12] = (uint16_t)outmode;
    pp[13] = (uint16_t)anamode;
    pp[14] = (uint16_t)scantime;
}

// Word 0 is deliberately ignored: the caller's channel decides, so a block
// read for B lands in B even if the controller labels it otherwise.
void CopyPPtoVars(uint16_t channel)
{
    if (channel == 0) {
        powerA = pp[1];
        refA = pp[2];
        tolA = pp[3];
        triglvlA = pp[4];
        pretriggerA = pp[15];
    } else {
        powerB = pp[1];
        refB = pp[2];
        tolB = pp[3];
        triglvlB = pp[4];
        pretriggerB = pp[15];
    }
    hysteresis = pp[5];
    polarity = pp[6];
    hold = pp[7];
    average = pp[8];
    hwmode = pp[9];
    evalmode = pp[10];
    trigmode = pp[11];
    outmode = pp[12];
    anamode = pp[13];
    scantime = pp[14];
}
