// Tests of the simulated controller: orders, signals, line timing, faults, determinism.
#include "sim/controller.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <vector>

using namespace qvar::sim;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes request(uint16_t order, const Block &data = {})
{
    Bytes f = {0x00, 0x55, static_cast<uint8_t>(order >> 8), static_cast<uint8_t>(order)};
    for (uint16_t w : data) {
        f.push_back(static_cast<uint8_t>(w >> 8));
        f.push_back(static_cast<uint8_t>(w));
    }
    return f;
}

uint16_t word_at(const Bytes &b, size_t byte) { return static_cast<uint16_t>(b[byte] << 8 | b[byte + 1]); }
uint16_t data_word(const Bytes &frame, size_t i) { return word_at(frame, 4 + 2 * i); }

Block data_of(const Bytes &frame)
{
    Block b{};
    for (size_t i = 0; i < kWords; ++i)
        b[i] = data_word(frame, i);
    return b;
}

// Drives an unpaced controller on a clock that moves one second per
// exchange, so every answer has fully arrived when it is read.
struct Host {
    Controller c{42};
    double t = 0;

    Host() { c.set_paced(false); }

    Bytes exchange(uint16_t order, const Block &data = {})
    {
        const Bytes req = request(order, data);
        c.host_write(req.data(), req.size(), t);
        t += 1.0;
        Bytes out(1024);
        out.resize(c.host_read(out.data(), out.size(), t));
        return out;
    }

    Block live() { return data_of(exchange(ORDER_LIVE_VALUES)); }

    std::vector<uint16_t> curve(int source)
    {
        std::vector<uint16_t> all;
        for (uint16_t off = 0; off < kCurvePoints; off += 16) {
            const Bytes a = exchange(ORDER_CURVE_BLOCK, {off, static_cast<uint16_t>(source)});
            EXPECT_EQ(a.size(), kFrameBytes);
            for (size_t i = 0; i < kWords; ++i)
                all.push_back(data_word(a, i));
        }
        return all;
    }
};

Block custom_block(uint16_t channel, uint16_t base)
{
    Block b{};
    b[0] = channel;
    for (size_t i = 1; i < kWords; ++i)
        b[i] = static_cast<uint16_t>(base + i);
    return b;
}

} // namespace

TEST(SimOrders, AnswerFramesCarrySyncAndTheRequestsOrder)
{
    Host h;
    for (uint16_t order : {ORDER_READ_RAM, ORDER_READ_EEPROM, ORDER_ECHO, ORDER_TEACH, ORDER_LIVE_VALUES,
                           ORDER_CURVE_BLOCK, ORDER_RESET, ORDER_REFRESH}) {
        const Bytes a = h.exchange(order);
        ASSERT_EQ(a.size(), kFrameBytes) << "order " << order;
        EXPECT_EQ(word_at(a, 0), SYNC_WORD);
        EXPECT_EQ(word_at(a, 2), order);
    }
}

TEST(SimOrders, ParameterBlocksKeepRamAndEepromApartUntilReset)
{
    Host h;
    const Block ramB = custom_block(1, 1000), eepromA = custom_block(0, 2000);
    EXPECT_TRUE(h.exchange(ORDER_WRITE_RAM, ramB).empty());
    EXPECT_TRUE(h.exchange(ORDER_WRITE_EEPROM, eepromA).empty());

    EXPECT_EQ(data_of(h.exchange(ORDER_READ_RAM, {1})), ramB);
    EXPECT_EQ(data_of(h.exchange(ORDER_READ_EEPROM, {0})), eepromA);
    EXPECT_EQ(data_of(h.exchange(ORDER_READ_RAM, {0})), Controller::factory_block(0));
    EXPECT_EQ(data_of(h.exchange(ORDER_READ_EEPROM, {1})), Controller::factory_block(1));

    // Any channel word other than 0 means B, and the answer names it 1.
    Block odd = custom_block(7, 3000);
    h.exchange(ORDER_WRITE_RAM, odd);
    odd[0] = 1;
    EXPECT_EQ(h.c.ram(1), odd);
    EXPECT_EQ(data_of(h.exchange(ORDER_READ_RAM, {9})), odd);

    // Reset reloads RAM from what the EEPROM holds, not from the factory.
    ASSERT_EQ(h.exchange(ORDER_RESET).size(), kFrameBytes);
    EXPECT_EQ(h.c.ram(0), eepromA);
    EXPECT_EQ(h.c.ram(1), Controller::factory_block(1));
}

TEST(SimOrders, UnknownOrdersAreCountedButNotAnswered)
{
    Host h;
    for (uint16_t order : {0, 12, 0x0108, 0xFFFF})
        EXPECT_TRUE(h.exchange(order).empty()) << order;
    EXPECT_EQ(h.c.requests(12), 1u);
    EXPECT_EQ(h.c.requests_total(), 4u);
    EXPECT_EQ(h.c.bytes_received(), 4 * kFrameBytes);
    EXPECT_EQ(h.c.answers_sent(), 0u);
    // The line is still in step afterwards.
    EXPECT_EQ(h.exchange(ORDER_ECHO).size(), kFrameBytes);
}

TEST(SimFraming, SplitRequestsAndGarbageBeforeTheSync)
{
    Host h;
    const Bytes req = request(ORDER_ECHO);
    h.c.host_write(req.data(), 5, 0.0);
    h.c.host_write(req.data() + 5, 20, 0.1);
    EXPECT_EQ(h.c.host_available(1.0), 0u);
    h.c.host_write(req.data() + 25, 11, 0.2);
    EXPECT_EQ(h.c.host_available(1.0), kFrameBytes);
    h.c.host_flush_input(1.0);

    // Noise, a lone 00 and a half frame ahead of a whole one.
    Bytes noisy = {0xFF, 0x12, 0x00, 0x00, 0x55, 0x00};
    noisy.insert(noisy.end(), req.begin(), req.end());
    h.c.host_write(noisy.data(), noisy.size(), 2.0);
    Bytes out(100);
    out.resize(h.c.host_read(out.data(), out.size(), 3.0));
    ASSERT_EQ(out.size(), kFrameBytes);
    EXPECT_EQ(data_word(out, 0), ECHO_ACK);
    EXPECT_EQ(h.c.requests(ORDER_ECHO), 2u);
}

TEST(SimSignals, LiveValuesHangTogether)
{
    Host h;
    bool sawObjectA = false, sawObjectB = false;
    for (int i = 0; i < 400; ++i) {
        const Block v = h.live();
        EXPECT_LE(v[LV_ADC_A], 4095);
        EXPECT_EQ(v[LV_NORM_A], std::min(1024, 1024 * v[LV_ADC_A] / v[LV_AMAX]));
        EXPECT_EQ(v[LV_NORM_B], std::min(1024, 1024 * v[LV_ADC_B] / v[LV_BMAX]));
        EXPECT_LE(v[LV_MIN_A], v[LV_NORM_A]);
        EXPECT_GE(v[LV_MAX_A], v[LV_NORM_A]);
        EXPECT_GE(v[LV_MAX_B], v[LV_NORM_B]);
        EXPECT_EQ(v[LV_TRIGG_HI] + v[LV_TRIGG_LO], 1024);
        EXPECT_EQ(v[LV_INPUTS] & ~0x0101, 0);
        // An input is on exactly while an object lifts its channel well
        // above the baseline.
        const bool inA = v[LV_INPUTS] & 0x0001, inB = v[LV_INPUTS] & 0x0100;
        EXPECT_EQ(inA, v[LV_ADC_A] > 1000) << "sample " << i;
        EXPECT_EQ(inB, v[LV_ADC_B] > 1000) << "sample " << i;
        sawObjectA |= inA;
        sawObjectB |= inB;
    }
    EXPECT_TRUE(sawObjectA);
    EXPECT_TRUE(sawObjectB);
    EXPECT_EQ(h.c.sample(), 400);
    const Block v = h.live();
    EXPECT_EQ(h.c.live_values(), v);
}

TEST(SimSignals, RefreshRestartsMaxMinTracking)
{
    Host h;
    Block v{};
    for (int i = 0; i < 200; ++i)
        v = h.live();
    ASSERT_GT(v[LV_MAX_A], 800);
    // Wait for the baseline between objects, then refresh.
    while (v[LV_INPUTS] != 0)
        v = h.live();
    ASSERT_EQ(h.exchange(ORDER_REFRESH).size(), kFrameBytes);
    v = h.live();
    EXPECT_EQ(v[LV_MAX_A], v[LV_NORM_A]);
    EXPECT_EQ(v[LV_MIN_A], v[LV_NORM_A]);
    EXPECT_EQ(v[LV_MAX_B], v[LV_NORM_B]);
}

TEST(SimCurves, TriggeredRecordingPutsTheEdgeWhereTheHostDrawsTheStep)
{
    Host h;
    for (int i = 0; i < 300; ++i)
        h.live();
    const auto a = h.curve(0);
    // pretrigger 20, average 8: step at 128 - 20 - 1.
    EXPECT_GE(a[107], 600);
    EXPECT_LT(a[106], 600);

    Block b = Controller::factory_block(1);
    b[PB_PRETRIGGER] = 50;
    b[PB_TRIGGER] = 0xC000 | 700;
    h.exchange(ORDER_WRITE_RAM, b);
    const auto bcurve = h.curve(1);
    EXPECT_GE(bcurve[77], 700);
    EXPECT_LT(bcurve[76], 700);

    // Falling edge in trigger mode 2.
    Block common = Controller::factory_block(0);
    common[PB_TRIGMODE] = 2;
    h.exchange(ORDER_WRITE_RAM, common);
    const auto fall = h.curve(0);
    EXPECT_LT(fall[107], 600);
    EXPECT_GE(fall[106], 600);
}

TEST(SimCurves, TriggerModeDecidesWhichSourcesAreRecorded)
{
    Host h;
    for (int i = 0; i < 300; ++i)
        h.live();
    const std::vector<uint16_t> zeros(kCurvePoints, 0);
    EXPECT_EQ(h.curve(4), zeros);
    EXPECT_NE(h.curve(0), zeros);

    Block common = Controller::factory_block(0);
    common[PB_TRIGMODE] = 3;
    h.exchange(ORDER_WRITE_RAM, common);
    EXPECT_EQ(h.curve(0), zeros);
    const auto maxA = h.curve(4), minA = h.curve(6), maxB = h.curve(5);
    for (size_t i = 0; i < kCurvePoints; ++i) {
        EXPECT_GT(maxA[i], 700) << i;  // every slot has an object in it
        EXPECT_LT(minA[i], 200) << i;  // and baseline around it
        EXPECT_GT(maxB[i], 700) << i;
    }
    EXPECT_EQ(h.curve(2), zeros);
    EXPECT_EQ(h.curve(9), zeros);
}

TEST(SimTiming, PacedExchangeTakesTheLineTime)
{
    Controller c;
    const Bytes req = request(ORDER_ECHO);
    const double t0 = 100.0, byte = 1.0 / 1920;
    c.host_write(req.data(), req.size(), t0);
    EXPECT_EQ(c.host_output_pending(t0), kFrameBytes);
    EXPECT_NEAR(c.next_arrival() - t0, 36 * byte + 0.0002 + byte, 1e-9);
    // A waiter for the whole answer can sleep until its last byte.
    EXPECT_NEAR(c.arrival_of(36) - c.arrival_of(1), 35 * byte, 1e-9);
    EXPECT_EQ(c.arrival_of(1), c.next_arrival());
    EXPECT_TRUE(std::isinf(c.arrival_of(37)));
    EXPECT_EQ(c.host_available(t0 + 0.0375), 35u);
    EXPECT_EQ(c.host_available(t0 + 0.0378), kFrameBytes);

    // A second request written while the first is on the line waits for it.
    c.host_flush_input(t0 + 0.0378);
    const Bytes fw = request(ORDER_FIRMWARE);
    const double t1 = 200.0;
    c.host_write(req.data(), req.size(), t1);
    c.host_write(fw.data(), fw.size(), t1);
    EXPECT_EQ(c.host_available(t1 + 72 * byte + 0.0002 - 1e-6), kFrameBytes - 1);
    // Firmware text: its request ends at 72 bytes, the answer is 72 more.
    EXPECT_EQ(c.host_available(t1 + 72 * byte + 0.0002 + 72 * byte + 1e-6), kFrameBytes + kFirmwareBytes);

    // Flushing drops what has come but not what is still under way.
    const double t2 = 300.0;
    c.host_write(fw.data(), fw.size(), t2);
    c.host_flush_input(t2 + 0.030);
    EXPECT_GT(c.host_available(t2 + 0.1), 0u);
    EXPECT_LT(c.host_available(t2 + 0.1), kFirmwareBytes);
    EXPECT_NEAR(c.host_available(t2 + 0.1), 72 - (0.030 - 36 * byte - 0.0002) / byte, 1.0);
}

TEST(SimFaults, UnpacedIsAtOnceUnlessDelayAndSplitShapeTheArrival)
{
    Controller c;
    c.set_paced(false);
    const Bytes fw = request(ORDER_FIRMWARE);
    c.host_write(fw.data(), fw.size(), 0.5);
    EXPECT_EQ(c.next_arrival(), 0.5);
    EXPECT_EQ(c.host_available(0.5), kFirmwareBytes);
    EXPECT_EQ(c.host_output_pending(0.5), 0u);
    c.host_flush_input(0.5);

    c.faults.delay = 0.5;
    const Bytes req = request(ORDER_ECHO);
    c.host_write(req.data(), req.size(), 1.0);
    EXPECT_EQ(c.host_available(1.49), 0u);
    EXPECT_EQ(c.host_available(1.5), kFrameBytes);
    c.host_flush_input(2.0);

    c.faults.delay = 0;
    c.faults.split = 3;
    c.faults.split_gap = 0.1;
    c.host_write(req.data(), req.size(), 10.0);
    EXPECT_EQ(c.host_available(10.05), 12u);
    EXPECT_EQ(c.host_available(10.15), 24u);
    EXPECT_EQ(c.host_available(10.25), kFrameBytes);
}

TEST(SimDeterminism, SeedFixesEverySample)
{
    Host a, b;
    std::vector<Block> first;
    for (int i = 0; i < 300; ++i) {
        first.push_back(a.live());
        ASSERT_EQ(first.back(), b.live()) << "sample " << i;
    }
    b.c.set_seed(43);
    int differ = 0;
    for (int i = 0; i < 300; ++i)
        differ += b.live() != first[i];
    EXPECT_GT(differ, 250);
    // Re-seeding restarts the sequence from its first sample.
    a.c.set_seed(42);
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(a.live(), first[i]);
}

TEST(SimEeprom, FileRoundTripAndRejectsDamage)
{
    const qvar_test::ScratchDir dir;
    const std::string path = dir.file("eeprom.txt");

    Controller c;
    c.set_eeprom(0, custom_block(0, 40000));
    c.set_eeprom(1, custom_block(1, 60000));
    ASSERT_TRUE(c.save_eeprom(path));

    Controller d;
    std::string err;
    ASSERT_TRUE(d.load_eeprom(path, &err)) << err;
    EXPECT_EQ(d.eeprom(0), c.eeprom(0));
    EXPECT_EQ(d.eeprom(1), c.eeprom(1));
    EXPECT_EQ(d.ram(0), Controller::factory_block(0));

    for (const char *bad : {"A 1 2 3\nB 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n",
                            "A 0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 70000\n",
                            "A 0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\n",
                            "C 0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\n"}) {
        std::ofstream(path, std::ios::trunc) << bad;
        Controller e;
        EXPECT_FALSE(e.load_eeprom(path, &err)) << bad;
        EXPECT_FALSE(err.empty());
        EXPECT_EQ(e.eeprom(0), Controller::factory_block(0));
    }
    EXPECT_FALSE(d.load_eeprom(dir.file("missing")));
}
