// SPDX-License-Identifier: BSD-2-Clause
#include "lib/eval/e_model.h"

#include <algorithm>
#include <cmath>

namespace g729eval {

namespace {

// The delay impairment of the absolute one-way delay Ta (ms). Of the three delay terms only
// this one is used: with the default echo figures (talker echo loudness 65 dB, weighted echo
// path loss 110 dB) the talker and listener echo terms are small, and they are left out.
double delay_impairment(double ta_ms) {
    if (!(ta_ms > 100.0)) return 0.0;
    const double x = std::log10(ta_ms / 100.0) / std::log10(2.0);
    return 25.0 * (std::pow(1.0 + std::pow(x, 6.0), 1.0 / 6.0) -
                   3.0 * std::pow(1.0 + std::pow(x / 3.0, 6.0), 1.0 / 6.0) + 2.0);
}

// The equipment impairment with packet loss: Ie + (95 - Ie) Ppl / (Ppl / BurstR + Bpl).
double effective_equipment_impairment(double ie, double ppl, double burst_ratio, double bpl) {
    if (ppl <= 0.0) return ie;
    return ie + (95.0 - ie) * ppl / (ppl / burst_ratio + bpl);
}

double mos_of(double r) {
    if (r < 0.0) return 1.0;
    if (r > 100.0) return 4.5;
    return 1.0 + 0.035 * r + r * (r - 60.0) * (100.0 - r) * 7e-6;
}

}  // namespace

EModelResult e_model(const EModelInput& in) {
    // Inputs outside their ranges (no figures measured) are taken at the nearest sensible value.
    const double ppl = std::isfinite(in.loss_percent) ? std::clamp(in.loss_percent, 0.0, 100.0) : 0.0;
    const double burst = std::isfinite(in.burst_ratio) && in.burst_ratio > 0.0 ? in.burst_ratio : 1.0;
    const double ta = std::isfinite(in.one_way_delay_ms) ? std::max(in.one_way_delay_ms, 0.0) : 0.0;
    // Ro - Is with every other parameter at its default, and no advantage factor (A = 0).
    constexpr double basic_rating = 93.2;
    EModelResult out;
    out.r_factor = basic_rating - delay_impairment(ta) -
                   effective_equipment_impairment(in.ie, ppl, burst, in.bpl);
    out.mos = mos_of(out.r_factor);
    return out;
}

// The receiver's jitter buffer is taken as twice the mean measured jitter, and never less
// than one packet: a receiver holds at least the packet it is playing. A packetization not
// known (a stream of one packet) counts as one frame, 10 ms.
double g729_one_way_delay_ms(double packet_ms, double jitter_ms, double network_delay_ms) {
    constexpr double codec_delay_ms = 15.0;  // 10 ms frame + 5 ms look-ahead
    const double packet = std::isfinite(packet_ms) && packet_ms > 0.0 ? packet_ms : 10.0;
    const double jitter = std::isfinite(jitter_ms) && jitter_ms > 0.0 ? jitter_ms : 0.0;
    const double network = std::isfinite(network_delay_ms) && network_delay_ms > 0.0 ? network_delay_ms : 0.0;
    const double buffer = std::max(packet, 2.0 * jitter);
    return packet + codec_delay_ms + buffer + network;
}

}  // namespace g729eval
