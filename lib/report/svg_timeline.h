// SPDX-License-Identifier: BSD-2-Clause
// A stream's timeline as an inline SVG chart: the signal level of every 10 ms frame, frames
// lost (concealed) marked in red at their times, DTX pauses (SID and comfort noise) shaded,
// and the interarrival jitter as a line on its own scale. The two directions of a call are
// drawn on the same time axis (axis_s), each from its offset.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lib/rtp/frame_sink.h"

namespace g729report {

// One decoded frame: its kind, the samples it wrote (80, fewer at overlaps and partial gaps)
// and its level (RMS in dB relative to full scale).
struct FrameLevel {
    g729rtp::FrameKind kind = g729rtp::FrameKind::speech;
    uint16_t samples = 0;
    float level_db = 0;
};

struct JitterSample {
    double time_s = 0;     // since the stream's first packet
    double jitter_ms = 0;
};

struct TimelineChart {
    std::vector<FrameLevel> frames;    // in order, from the stream's first sample
    std::vector<JitterSample> jitter;  // may be empty
    double offset_s = 0;               // where the stream's first sample lies on the axis
    double axis_s = 0;                 // the axis runs from 0 to here (the call's span)
    std::string label;                 // the chart's accessible name
};

// Lowest level drawn; quieter frames (digital silence) sit on the chart's floor.
inline constexpr double level_floor_db = -80;

// RMS level of a block in dB relative to full scale (32768): 0 dBFS at most, level_floor_db
// for silence and for an empty block.
double level_dbfs(const int16_t* samples, std::size_t count);

// A run of frames of one kind on the axis, in seconds.
struct FrameRun {
    double start_s = 0;
    double duration_s = 0;
};
// Runs of consecutive lost frames, and of DTX frames (SID and comfort-noise pause), placed on
// the chart's axis.
std::vector<FrameRun> lost_runs(const TimelineChart& chart);
std::vector<FrameRun> pause_runs(const TimelineChart& chart);

// The <svg> element (no XML prolog, no namespace URL: it sits inline in an HTML page).
std::string svg_timeline(const TimelineChart& chart);

// Tick step for an axis of this length: 1, 2 or 5 times a power of ten, at most ~10 ticks.
double tick_step(double span);

}  // namespace g729report
