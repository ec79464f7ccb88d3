// Frames and the parameter block: byte layout on the wire and the word-for-word
// codec, without a port.
#define QVAR_HIDE_SYNC
#include "state/qvar.h"
#include "link/com232.h"
#include "link/protocol.h"
#include "platform/serial/serial.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

TEST(Frames, RequestLayoutIsBigEndianWithSyncAndOrder)
{
    uint16_t values[16];
    for (int i = 0; i < 16; i++)
        values[i] = (uint16_t)i;
    values[4] = 0xC000;
    FillTxBuf(ORDER_LIVE_VALUES, values);

    const unsigned char head[] = {0x00, 0x55, 0x00, 0x08, 0x00, 0x00, 0x00, 0x01};
    EXPECT_EQ(0, std::memcmp(szWriteBuf, head, sizeof head));
    EXPECT_EQ(0xC0, szWriteBuf[4 + 8]);          // high bit set goes out unchanged
    EXPECT_EQ(0x00, szWriteBuf[5 + 8]);
    EXPECT_EQ(0x0F, szWriteBuf[35]);
}

TEST(Frames, AnswerDecodesOrderAndWordsIgnoringTheSyncBytes)
{
    // DE AD is not a sync word: taken all the same.
    unsigned char frame[36] = {0xDE, 0xAD, 0x00, 0x08, 0x12, 0x34};
    frame[34] = 0xFF;
    frame[35] = 0xFE;
    std::memcpy(szReadBuf, frame, sizeof frame);
    GetRxBuf(PNUM);
    EXPECT_EQ(8, order);
    EXPECT_EQ(0x1234, pp[0]);
    EXPECT_EQ(0xFFFE, pp[15]);
}

TEST(Codec, EveryWordCarriesItsOwnVariableOfTheChannel)
{
    // In word order; distinct values, so two swapped words show.
    int32_t *a[] = {&powerA, &refA, &tolA, &triglvlA, &hysteresis, &polarity, &hold, &average,
                    &hwmode, &evalmode, &trigmode, &outmode, &anamode, &scantime, &pretriggerA};
    int32_t *b[] = {&powerB, &refB, &tolB, &triglvlB, &hysteresis, &polarity, &hold, &average,
                    &hwmode, &evalmode, &trigmode, &outmode, &anamode, &scantime, &pretriggerB};
    for (uint16_t channel : {CHANNEL_A, CHANNEL_B}) {
        int32_t **vars = channel == CHANNEL_A ? a : b;
        for (int w = 1; w < FRAME_WORDS; w++)
            *vars[w - 1] = 1000 * (channel + 1) + w;
        CopyVarsToPP(channel);
        EXPECT_EQ(channel, pp[PB_CHANNEL]);
        for (int w = 1; w < FRAME_WORDS; w++)
            EXPECT_EQ(1000 * (channel + 1) + w, pp[w]) << "channel " << channel << " word " << w;

        // Unpacked as the argument says, whatever channel word 0 names.
        pp[PB_CHANNEL] = channel == CHANNEL_A ? CHANNEL_B : CHANNEL_A;
        for (int w = 1; w < FRAME_WORDS; w++)
            pp[w] = (uint16_t)(500 + w);
        CopyPPtoVars(channel);
        for (int w = 1; w < FRAME_WORDS; w++)
            EXPECT_EQ(500 + w, *vars[w - 1]) << "channel " << channel << " word " << w;
    }
    EXPECT_EQ(501, powerA) << "unpacking B left A's own words alone";

    // The low sixteen bits go out, and come back zero-extended.
    powerA = 70000;                               // 0x11170
    tolA = -1;
    CopyVarsToPP(CHANNEL_A);
    EXPECT_EQ(0x1170, pp[1]);
    EXPECT_EQ(0xFFFF, pp[3]);
    CopyPPtoVars(CHANNEL_A);
    EXPECT_EQ(4464, powerA);
    EXPECT_EQ(65535, tolA);
}

TEST(ComErrors, EveryServiceCodeHasItsOwnTextOthersTheGeneralOne)
{
    const int codes[] = {COM_ERR_SYSTEM, COM_ERR_PORT_NUMBER, COM_ERR_NOT_OPEN, COM_ERR_IO,
                         COM_ERR_NO_PORT, COM_ERR_CANNOT_OPEN, COM_ERR_PARAMETER, COM_ERR_TIMEOUT};
    std::set<std::string> texts;
    for (int code : codes) {
        std::string text = ComErrorText(code);
        EXPECT_NE("RS-232 error!", text) << code;
        texts.insert(text);
    }
    EXPECT_EQ(sizeof codes / sizeof codes[0], texts.size()) << "two codes share a text";
    for (int other : {-5, -12, -100})
        EXPECT_STREQ("RS-232 error!", ComErrorText(other)) << other;
}

} // namespace
