// SPDX-License-Identifier: BSD-2-Clause
// The call report: one self-contained HTML page (styles, charts and audio inside it; nothing
// loaded from anywhere) with, per call, a headline per direction (its MOS in green, amber or
// red), the directions' timelines on one time axis, a player per direction and for the
// stereo mix, and the figures side by side.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lib/report/svg_timeline.h"

namespace g729report {

// Where the page goes, piece by piece.
using Write = std::function<void(std::string_view)>;
// Writes a WAV file's bytes as base64 text (the audio of a player, streamed into the page).
using AudioSource = std::function<void(const Write&)>;

struct StreamPanel {
    std::string direction;   // "10.0.0.1:4000 → 10.0.0.2:5000"
    std::string ssrc;        // "00c0ffee"
    std::optional<double> mos;
    std::optional<double> r_factor;
    double lost_percent = 0;
    // The figures table's rows: label and value, the same labels in every stream of a call.
    std::vector<std::pair<std::string, std::string>> figures;
    TimelineChart chart;
    double duration_s = 0;   // of its audio
    AudioSource audio;       // mono WAV; none: no player
};

struct CallPanel {
    std::vector<StreamPanel> streams;  // one or two; the first is the mix's left channel
    std::string note;                  // shown under the call's heading when set
    double mix_duration_s = 0;
    AudioSource mix;                   // stereo WAV; none: no mix player
};

struct ReportPage {
    std::string source;                // the capture's name
    std::vector<std::string> summary;  // lines under the title
    std::vector<CallPanel> calls;
};

// "good" (MOS 4.0 and up), "fair" (3.6 to 4.0) or "poor".
const char* mos_grade(double mos);

void write_report(const ReportPage& page, const Write& out);

}  // namespace g729report
