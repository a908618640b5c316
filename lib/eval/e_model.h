// SPDX-License-Identifier: BSD-2-Clause
// A call-quality estimate from network figures: the E-model's transmission rating R and the
// MOS it maps to, with every input not given here at the model's defaults. An estimate from
// loss, burstiness and delay, not a listening test.
#pragma once

namespace g729eval {

struct EModelInput {
    double loss_percent = 0;     // Ppl
    double burst_ratio = 1;      // BurstR: 1 for random loss
    double one_way_delay_ms = 0; // Ta (mouth to ear)
    double ie = 11;              // equipment impairment of the codec (G.729A)
    double bpl = 19;             // its packet-loss robustness
};

struct EModelResult {
    double r_factor = 0;
    double mos = 0;
};

EModelResult e_model(const EModelInput& input);

// Mouth-to-ear delay of a G.729A stream: packetization, the codec's own 15 ms, a jitter
// buffer sized from the measured jitter, and the network's delay when known.
double g729_one_way_delay_ms(double packet_ms, double jitter_ms, double network_delay_ms);

}  // namespace g729eval
