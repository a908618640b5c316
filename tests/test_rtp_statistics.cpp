// SPDX-License-Identifier: BSD-2-Clause
// Stream statistics on crafted packet sequences (loss, duplicates, reordering, wraps, sender
// restarts, jitter against a reference computation) and the E-model against hand-computed
// G.107 values.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "lib/eval/e_model.h"
#include "lib/rtp/rtp_statistics.h"

namespace {

using g729rtp::NetworkStats;
using g729rtp::RtpStatistics;

// Packets sent every 20 ms (160 timestamp units), arriving in the order given, each 20 ms
// after the previous one.
NetworkStats run_sequence(const std::vector<int>& sequence) {
    RtpStatistics s;
    int64_t us = 1'000'000;
    for (const int seq : sequence) {
        s.add(static_cast<uint16_t>(seq), static_cast<uint32_t>(seq) * 160u, us);
        us += 20'000;
    }
    return s.result();
}

std::vector<int> range(int from, int to_inclusive, std::vector<int> skip = {}) {
    std::vector<int> v;
    for (int i = from; i <= to_inclusive; ++i) {
        if (std::find(skip.begin(), skip.end(), i) == skip.end()) v.push_back(i & 0xffff);
    }
    return v;
}

std::vector<int> join(std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct SequenceCase {
    std::string name;
    std::vector<int> arrivals;
    uint64_t packets, expected, lost, duplicates, reordered, sequence_errors;
};

TEST(RtpStatistics, SequenceCountsOfCraftedStreams) {
    const std::vector<SequenceCase> cases = {
        {"clean", range(0, 9), 10, 10, 0, 0, 0, 0},
        {"three dropped", range(0, 19, {3, 7, 8}), 17, 20, 3, 0, 0, 0},
        // 2 again right after itself, 1 again later: two duplicates, counted once each.
        {"duplicates", {0, 1, 2, 2, 3, 1}, 6, 4, 0, 2, 0, 0},
        {"swapped pair", {0, 1, 3, 2, 4}, 5, 5, 0, 0, 1, 0},
        {"late by five", {0, 1, 3, 4, 5, 6, 7, 2, 8}, 9, 9, 0, 0, 1, 0},
        {"wrap", range(65530, 65541), 12, 12, 0, 0, 0, 0},
        {"wrap with the wrap's numbers dropped", range(65530, 65541, {65535, 65536}), 10, 12, 2, 0, 0, 0},
        {"reordered across the wrap", {65534, 0, 65535, 1}, 4, 4, 0, 0, 1, 0},
        {"earlier than the first", {5, 6, 4, 7}, 4, 4, 0, 0, 1, 0},
        {"long gap", {0, 2000}, 2, 2001, 1999, 0, 0, 0},
        // The sender starts anew at 40000: one sequence error, the jump is not loss.
        {"restart", join(range(0, 9), range(40000, 40009)), 20, 20, 0, 0, 0, 1},
        {"restart after a loss", join(range(0, 9, {4}), range(40000, 40009, {40005})), 18, 20, 2, 0, 0, 1},
        // A lone packet far off: a sequence error outside the counts.
        {"stray", join(join(range(0, 4), {30000}), range(5, 9)), 11, 10, 0, 0, 0, 1},
        // Too far behind for the reorder reach (150 > 100): an error, not a duplicate.
        {"far behind", join(range(0, 200), {50}), 202, 201, 0, 0, 0, 1},
        {"within reach behind", join(range(0, 200, {150}), {150}), 201, 201, 0, 0, 1, 0},
    };
    for (const SequenceCase& c : cases) {
        SCOPED_TRACE(c.name);
        const NetworkStats s = run_sequence(c.arrivals);
        EXPECT_EQ(s.packets, c.packets);
        EXPECT_EQ(s.expected, c.expected);
        EXPECT_EQ(s.lost, c.lost);
        EXPECT_DOUBLE_EQ(s.lost_percent, 100.0 * static_cast<double>(c.lost) / static_cast<double>(c.expected));
        EXPECT_EQ(s.duplicates, c.duplicates);
        EXPECT_EQ(s.reordered, c.reordered);
        EXPECT_EQ(s.sequence_errors, c.sequence_errors);
    }
}

TEST(RtpStatistics, LossOverManyWrapsCountsEveryDrop) {
    // 200 000 packets (three wraps), every 97th dropped.
    std::vector<int> seq;
    uint64_t dropped = 0;
    for (int i = 0; i < 200000; ++i) {
        if (i % 97 == 50) {
            ++dropped;
            continue;
        }
        seq.push_back((i + 1000) & 0xffff);
    }
    const NetworkStats s = run_sequence(seq);
    EXPECT_EQ(s.expected, 200000u);
    EXPECT_EQ(s.lost, dropped);
    EXPECT_EQ(s.sequence_errors, 0u);
    EXPECT_EQ(s.reordered, 0u);
    EXPECT_EQ(s.jitter.size(), seq.size() - 1);
}

TEST(RtpStatistics, BurstRatioFollowsTheLossRuns) {
    struct Case {
        std::string name;
        std::vector<int> skip;
        int last;
        double burst_ratio;
    };
    std::vector<int> pairs, singles, fours;
    for (int i = 10; i < 1000; i += 50) pairs.insert(pairs.end(), {i, i + 1});       // 20 runs of 2
    for (int i = 10; i < 1000; i += 50) singles.push_back(i);                         // 20 runs of 1
    for (int i = 10; i < 1000; i += 100) fours.insert(fours.end(), {i, i + 1, i + 2, i + 3});  // 10 of 4
    const std::vector<Case> cases = {
        {"no loss", {}, 999, 1.0},
        // Mean run 2 at Ppl 4%: random loss would give runs of 1 / 0.96.
        {"pairs", pairs, 999, 2.0 * (1 - 0.04)},
        {"singles", singles, 999, 1.0 * (1 - 0.02)},
        {"fours", fours, 999, 4.0 * (1 - 0.04)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const NetworkStats s = run_sequence(range(0, c.last, c.skip));
        EXPECT_EQ(s.lost, c.skip.size());
        EXPECT_NEAR(s.burst_ratio, c.burst_ratio, 1e-12);
    }
}

// RFC 3550 A.8 as written there: the relative transit time of each packet and its change.
struct ReferenceJitter {
    std::vector<double> values_ms;
    double mean_ms = 0, max_ms = 0;
};

ReferenceJitter reference_jitter(const std::vector<uint32_t>& ts, const std::vector<int64_t>& arrival_us) {
    ReferenceJitter r;
    double j = 0, previous_transit = 0;
    for (std::size_t i = 0; i < ts.size(); ++i) {
        const double arrival = static_cast<double>(arrival_us[i] - arrival_us[0]) * 8000.0 / 1e6;
        const double transit = arrival - static_cast<double>(static_cast<int64_t>(ts[i]) - static_cast<int64_t>(ts[0]));
        if (i > 0) {
            j += (std::fabs(transit - previous_transit) - j) / 16.0;
            r.values_ms.push_back(j / 8.0);
            r.mean_ms += j / 8.0;
            r.max_ms = std::max(r.max_ms, j / 8.0);
        }
        previous_transit = transit;
    }
    if (!r.values_ms.empty()) r.mean_ms /= static_cast<double>(r.values_ms.size());
    return r;
}

TEST(RtpStatistics, JitterOfAHandComputedSequence) {
    // Sent at 0, 20, 40 ms; arriving at 0, 30, 40 ms. D = 240 - 160 = 80 units: J = 80/16 = 5
    // (0.625 ms); then D = 80 - 160 = -80: J = 5 + (80 - 5)/16 = 9.6875 (1.2109375 ms).
    RtpStatistics s;
    s.add(1, 1000, 0);
    s.add(2, 1160, 30'000);
    s.add(3, 1320, 40'000);
    const NetworkStats r = s.result();
    ASSERT_EQ(r.jitter.size(), 2u);
    EXPECT_DOUBLE_EQ(r.jitter[0].jitter_ms, 0.625);
    EXPECT_DOUBLE_EQ(r.jitter[1].jitter_ms, 1.2109375);
    EXPECT_DOUBLE_EQ(r.jitter[1].time_s, 0.04);
    EXPECT_DOUBLE_EQ(r.jitter_max_ms, 1.2109375);
    EXPECT_DOUBLE_EQ(r.jitter_mean_ms, (0.625 + 1.2109375) / 2);
    EXPECT_DOUBLE_EQ(r.delta_min_ms, 10.0);
    EXPECT_DOUBLE_EQ(r.delta_max_ms, 30.0);
    EXPECT_DOUBLE_EQ(r.delta_mean_ms, 20.0);
}

TEST(RtpStatistics, JitterMatchesTheReferenceOnRandomDelays) {
    for (const int max_delay_ms : {0, 5, 40, 200}) {
        for (const int ptime_ms : {10, 20, 60}) {
            SCOPED_TRACE(std::to_string(max_delay_ms) + " ms delays, " + std::to_string(ptime_ms) + " ms packets");
            // Packets sent every ptime, each delayed at random, arriving in order of arrival.
            uint32_t lcg = 12345;
            struct P { uint16_t seq; uint32_t ts; int64_t at; };
            std::vector<P> packets;
            const int64_t start = 1'700'000'000'000'000;
            for (int i = 0; i < 3000; ++i) {
                lcg = lcg * 1664525u + 1013904223u;
                const int64_t delay_us = max_delay_ms == 0 ? 0 : static_cast<int64_t>(lcg >> 8) % (max_delay_ms * 1000);
                packets.push_back({static_cast<uint16_t>(60000 + i), 0xfffff000u + static_cast<uint32_t>(i * ptime_ms * 8),
                                   start + int64_t{i} * ptime_ms * 1000 + delay_us});
            }
            std::stable_sort(packets.begin(), packets.end(), [](const P& a, const P& b) { return a.at < b.at; });
            RtpStatistics s;
            std::vector<uint32_t> ts;
            std::vector<int64_t> at;
            for (const P& p : packets) {
                s.add(p.seq, p.ts, p.at);
                ts.push_back(p.ts);
                at.push_back(p.at);
            }
            // The timestamps wrap past 2^32 here: the reference works on them unwrapped.
            std::vector<uint32_t> relative;
            for (const uint32_t t : ts) relative.push_back(t - 0xfffff000u);
            const ReferenceJitter want = reference_jitter(relative, at);
            const NetworkStats got = s.result();
            ASSERT_EQ(got.jitter.size(), want.values_ms.size());
            for (std::size_t i = 0; i < want.values_ms.size(); i += 97) {
                EXPECT_NEAR(got.jitter[i].jitter_ms, want.values_ms[i], 1e-9) << i;
            }
            EXPECT_NEAR(got.jitter_mean_ms, want.mean_ms, 1e-9);
            EXPECT_NEAR(got.jitter_max_ms, want.max_ms, 1e-9);
            EXPECT_EQ(got.lost, 0u);
            EXPECT_EQ(got.expected, 3000u);
            EXPECT_DOUBLE_EQ(got.packet_ms, ptime_ms);
            EXPECT_EQ(got.start_us, packets.front().at);
            EXPECT_DOUBLE_EQ(got.duration_s, static_cast<double>(packets.back().at - packets.front().at) / 1e6);
            if (max_delay_ms == 0) {
                EXPECT_EQ(got.jitter_max_ms, 0.0);
                EXPECT_EQ(got.reordered, 0u);
            }
            // Uniform delays up to M, never overtaking: |D| averages M/3, and so does J.
            if (max_delay_ms > 0 && max_delay_ms <= ptime_ms) {
                EXPECT_NEAR(got.jitter_mean_ms, max_delay_ms / 3.0, max_delay_ms / 6.0);
            }
        }
    }
}

TEST(RtpStatistics, ARestartDoesNotTakeTheJumpIntoTheJitter) {
    // Steady packets, then the sender starts anew with unrelated numbers and timestamps.
    RtpStatistics s;
    int64_t us = 0;
    for (int i = 0; i < 50; ++i, us += 20'000) s.add(static_cast<uint16_t>(100 + i), 5000u + static_cast<uint32_t>(i) * 160u, us);
    for (int i = 0; i < 50; ++i, us += 20'000) s.add(static_cast<uint16_t>(30000 + i), 900000u + static_cast<uint32_t>(i) * 160u, us);
    const NetworkStats r = s.result();
    EXPECT_EQ(r.sequence_errors, 1u);
    EXPECT_EQ(r.expected, 100u);
    EXPECT_EQ(r.lost, 0u);
    EXPECT_EQ(r.jitter_max_ms, 0.0);
    EXPECT_EQ(r.packet_ms, 20.0);
}

TEST(RtpStatistics, EmptyAndSinglePacketStreams) {
    const NetworkStats none = RtpStatistics().result();
    EXPECT_EQ(none.packets, 0u);
    EXPECT_EQ(none.expected, 0u);
    EXPECT_EQ(none.burst_ratio, 1.0);
    RtpStatistics one;
    one.add(7, 7, 123456789);
    const NetworkStats r = one.result();
    EXPECT_EQ(r.packets, 1u);
    EXPECT_EQ(r.expected, 1u);
    EXPECT_EQ(r.lost, 0u);
    EXPECT_EQ(r.start_us, 123456789);
    EXPECT_EQ(r.duration_s, 0.0);
    EXPECT_TRUE(r.jitter.empty());
    EXPECT_EQ(r.jitter_mean_ms, 0.0);
}

// G.107 values computed by hand (Ro - Is = 93.2, A = 0, G.729A: Ie 11, Bpl 19):
struct EModelCase {
    std::string name;
    double ppl, burst_ratio, ta_ms;
    double r, mos;
};

TEST(EModel, HandComputedPoints) {
    const std::vector<EModelCase> cases = {
        // No loss, Ta <= 100: R = 93.2 - 11 = 82.2;
        // MOS = 1 + 0.035 x 82.2 + 82.2 x 22.2 x 17.8 x 7e-6 = 1 + 2.877 + 0.227375 = 4.104375.
        {"clean", 0, 1, 50, 82.2, 4.104375},
        // Ppl 2 random: Ie,eff = 11 + 84 x 2 / (2 + 19) = 19; R = 74.2;
        // MOS = 1 + 2.597 + 74.2 x 14.2 x 25.8 x 7e-6 = 3.597 + 0.19028738 = 3.78728738.
        {"2% random", 2, 1, 50, 74.2, 3.787287384},
        // Ppl 5 random: Ie,eff = 11 + 420 / 24 = 28.5; R = 64.7;
        // MOS = 1 + 2.2645 + 64.7 x 4.7 x 35.3 x 7e-6 = 3.2645 + 0.07514 = 3.33964.
        {"5% random", 5, 1, 50, 64.7, 3.339640639},
        // Ppl 5, BurstR 2: Ie,eff = 11 + 420 / (2.5 + 19) = 11 + 19.534884 = 30.534884; R = 62.665116;
        // MOS = 1 + 2.193279 + 62.665116 x 2.665116 x 37.334884 x 7e-6 = 3.237 (to 3 places).
        {"5% bursty", 5, 2, 50, 62.665116279, 3.236926116},
        // Ta 200: X = log2(2) = 1; Idd = 25 x (2^(1/6) - 3 x (1 + 1/729)^(1/6) + 2)
        //       = 25 x (1.1224620 - 3.0006856 + 2) = 3.044414; R = 79.155586;
        // MOS = 1 + 2.770446 + 79.155586 x 19.155586 x 20.844414 x 7e-6 = 3.991686.
        {"200 ms", 0, 1, 200, 79.155585776, 3.991686057},
        // Ta 400: X = 2; Idd = 25 x (65^(1/6) - 3 x (1 + (2/3)^6)^(1/6) + 2)
        //       = 25 x (2.0055280 - 3.0417916 + 2) = 24.070089; R = 58.129911; MOS = 3.002686.
        {"400 ms", 0, 1, 400, 58.129910780, 3.002685547},
        // Everything lost: Ie,eff = 11 + 84 x 100 / 119 = 81.588235; R = 11.611765;
        // MOS = 1 + 0.406412 + 11.611765 x (-48.388235) x 88.388235 x 7e-6 = 1.058771.
        {"all lost", 100, 1, 50, 11.611764706, 1.058771146},
    };
    for (const EModelCase& c : cases) {
        SCOPED_TRACE(c.name);
        g729eval::EModelInput in;
        in.loss_percent = c.ppl;
        in.burst_ratio = c.burst_ratio;
        in.one_way_delay_ms = c.ta_ms;
        const g729eval::EModelResult r = g729eval::e_model(in);
        EXPECT_NEAR(r.r_factor, c.r, 1e-6);
        EXPECT_NEAR(r.mos, c.mos, 1e-6);
    }
}

TEST(EModel, MosFallsWithLossDelayAndBurstiness) {
    double previous = 5;
    for (double ppl = 0; ppl <= 30; ppl += 0.5) {
        g729eval::EModelInput in;
        in.loss_percent = ppl;
        const double mos = g729eval::e_model(in).mos;
        EXPECT_LT(mos, previous) << ppl;
        EXPECT_GE(mos, 1.0);
        previous = mos;
    }
    previous = 5;
    for (double ta = 100; ta <= 600; ta += 25) {
        g729eval::EModelInput in;
        in.one_way_delay_ms = ta;
        const double mos = g729eval::e_model(in).mos;
        EXPECT_LT(mos, previous) << ta;
        previous = mos;
    }
    g729eval::EModelInput random, bursty;
    random.loss_percent = bursty.loss_percent = 3;
    bursty.burst_ratio = 3;
    EXPECT_LT(g729eval::e_model(bursty).mos, g729eval::e_model(random).mos);
    // Past a second of delay and everything lost, R goes below 0: MOS 1.
    g729eval::EModelInput worst;
    worst.loss_percent = 100;
    worst.burst_ratio = 8;
    worst.one_way_delay_ms = 2000;
    EXPECT_LT(g729eval::e_model(worst).r_factor, 0);
    EXPECT_EQ(g729eval::e_model(worst).mos, 1.0);
}

TEST(EModel, OneWayDelayOfAG729Stream) {
    // Packet time + 15 ms codec + a jitter buffer of max(packet, 2 x jitter) + network.
    EXPECT_DOUBLE_EQ(g729eval::g729_one_way_delay_ms(20, 0, 0), 20 + 15 + 20);
    EXPECT_DOUBLE_EQ(g729eval::g729_one_way_delay_ms(20, 30, 40), 20 + 15 + 60 + 40);
    EXPECT_DOUBLE_EQ(g729eval::g729_one_way_delay_ms(60, 5, 0), 60 + 15 + 60);
    EXPECT_DOUBLE_EQ(g729eval::g729_one_way_delay_ms(0, 0, 0), 10 + 15 + 10);
    // A clean 20 ms stream stays under 100 ms: the worked figure, MOS 4.10.
    g729eval::EModelInput in;
    in.one_way_delay_ms = g729eval::g729_one_way_delay_ms(20, 0.5, 0);
    EXPECT_NEAR(g729eval::e_model(in).mos, 4.10, 0.005);
}

}  // namespace
