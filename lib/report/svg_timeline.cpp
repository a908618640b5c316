// SPDX-License-Identifier: BSD-2-Clause
#include "lib/report/svg_timeline.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "lib/report/html_text.h"

namespace g729report {

namespace {

// The chart's geometry in SVG user units; the page scales it to its width.
// The level plot, and under it a lane of its own for the lost frames: however dense the
// losses, the level stays readable.
constexpr double width = 960, height = 188;
constexpr double left = 56, right = 56, top = 10, bottom = 26, lane_h = 14, lane_gap = 8;
constexpr double plot_w = width - left - right, plot_h = height - top - bottom - lane_h - lane_gap;
constexpr double lane_y = top + plot_h + lane_gap;
// Up to this many loss runs also get a faint line across the level plot, to find them there.
constexpr std::size_t guided_runs = 120;

std::string num(double v, int decimals = 1) {
    char text[40];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

struct Axis {
    double span;
    double x(double t) const { return left + std::clamp(t / span, 0.0, 1.0) * plot_w; }
};

double level_y(double db) {
    return top + std::clamp(db / level_floor_db, 0.0, 1.0) * plot_h;
}

template <typename Pred>
std::vector<FrameRun> runs_where(const TimelineChart& chart, Pred pred) {
    std::vector<FrameRun> runs;
    uint64_t at = 0;  // samples from the stream's first
    bool open = false;
    for (const FrameLevel& f : chart.frames) {
        const double start = chart.offset_s + static_cast<double>(at) / 8000.0;
        const double length = f.samples / 8000.0;
        if (pred(f.kind)) {
            if (open) {
                runs.back().duration_s = start + length - runs.back().start_s;
            } else {
                runs.push_back({start, length});
            }
        }
        open = pred(f.kind);
        at += f.samples;
    }
    return runs;
}

// Time labels: as many decimals as the step needs.
std::string time_label(double t, double step) {
    const int decimals = step >= 1 ? 0 : step >= 0.1 ? 1 : 2;
    return num(t, decimals) + " s";
}

}  // namespace

double level_dbfs(const int16_t* samples, std::size_t count) {
    if (count == 0) return level_floor_db;
    double energy = 0;
    for (std::size_t i = 0; i < count; ++i) energy += static_cast<double>(samples[i]) * samples[i];
    const double rms = std::sqrt(energy / static_cast<double>(count));
    if (rms <= 0) return level_floor_db;
    return std::clamp(20 * std::log10(rms / 32768.0), level_floor_db, 0.0);
}

std::vector<FrameRun> lost_runs(const TimelineChart& chart) {
    return runs_where(chart, [](g729rtp::FrameKind k) { return k == g729rtp::FrameKind::lost; });
}

std::vector<FrameRun> pause_runs(const TimelineChart& chart) {
    return runs_where(chart, [](g729rtp::FrameKind k) {
        return k == g729rtp::FrameKind::sid || k == g729rtp::FrameKind::pause;
    });
}

double tick_step(double span) {
    if (!(span > 0)) return 1;
    const double raw = span / 10;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0}) {
        if (m * power >= raw * (1 - 1e-9)) return m * power;
    }
    return 10 * power;
}

std::string svg_timeline(const TimelineChart& chart) {
    const Axis axis{chart.axis_s > 0 ? chart.axis_s : 1.0};
    const double floor_y = top + plot_h;
    std::string s = "<svg class=\"timeline\" viewBox=\"0 0 " + num(width, 0) + " " + num(height, 0) +
                    "\" role=\"img\" aria-label=\"" + escape_html(chart.label) + "\">\n";
    s += "<title>" + escape_html(chart.label) + "</title>\n";
    s += "<rect class=\"plot\" x=\"" + num(left) + "\" y=\"" + num(top) + "\" width=\"" + num(plot_w) +
         "\" height=\"" + num(plot_h) + "\" fill=\"#fbfcfd\" stroke=\"#d5dbe1\"/>\n";

    // Level grid and labels (left), time grid and labels (bottom).
    for (int db = 0; db >= static_cast<int>(level_floor_db); db -= 20) {
        const std::string y = num(level_y(db));
        s += "<line class=\"grid\" x1=\"" + num(left) + "\" x2=\"" + num(left + plot_w) + "\" y1=\"" + y +
             "\" y2=\"" + y + "\" stroke=\"#e8ecf0\"/>";
        s += "<text class=\"axis\" x=\"" + num(left - 6) + "\" y=\"" + num(level_y(db) + 4) +
             "\" text-anchor=\"end\">" + std::to_string(db) + " dB</text>\n";
    }
    const double step = tick_step(axis.span);
    for (int i = 0; i * step <= axis.span * (1 + 1e-9); ++i) {
        const double t = i * step;
        const std::string x = num(axis.x(t));
        s += "<line class=\"grid\" x1=\"" + x + "\" x2=\"" + x + "\" y1=\"" + num(top) + "\" y2=\"" +
             num(lane_y + lane_h + 4) + "\" stroke=\"#e8ecf0\"/>";
        s += "<text class=\"axis\" x=\"" + x + "\" y=\"" + num(height - 6) + "\" text-anchor=\"middle\">" +
             time_label(t, step) + "</text>\n";
    }

    // DTX pauses, shaded behind the level.
    for (const FrameRun& r : pause_runs(chart)) {
        s += "<rect class=\"dtx\" data-t=\"" + num(r.start_s, 3) + "\" data-dur=\"" + num(r.duration_s, 3) +
             "\" x=\"" + num(axis.x(r.start_s)) + "\" y=\"" + num(top) + "\" width=\"" +
             num(std::max(0.5, axis.x(r.start_s + r.duration_s) - axis.x(r.start_s))) + "\" height=\"" +
             num(plot_h) + "\" fill=\"#dce8f5\"/>\n";
    }

    // The level: each pixel column shows the loudest frame in it, as a filled step outline.
    const auto columns = static_cast<std::size_t>(plot_w);
    std::vector<double> peak(columns, std::numeric_limits<double>::quiet_NaN());
    uint64_t at = 0;
    for (const FrameLevel& f : chart.frames) {
        const double t0 = chart.offset_s + static_cast<double>(at) / 8000.0;
        const double t1 = t0 + f.samples / 8000.0;
        at += f.samples;
        const auto c0 = static_cast<std::size_t>(std::clamp(std::floor(axis.x(t0) - left), 0.0, plot_w - 1));
        const auto c1 = static_cast<std::size_t>(std::clamp(std::ceil(axis.x(t1) - left) - 1, 0.0, plot_w - 1));
        for (std::size_t c = c0; c <= std::max(c0, c1); ++c) {
            if (std::isnan(peak[c]) || f.level_db > peak[c]) peak[c] = f.level_db;
        }
    }
    std::string path;
    auto point = [&path](char command, double x, double y) {
        path += command;
        path += num(x);
        path += ',';
        path += num(y);
    };
    for (std::size_t c = 0; c < columns; ++c) {
        if (std::isnan(peak[c])) continue;
        const double x = left + static_cast<double>(c), y = level_y(peak[c]);
        if (c == 0 || std::isnan(peak[c - 1])) point('M', x, floor_y);
        point('L', x, y);
        point('L', x + 1, y);
        if (c + 1 == columns || std::isnan(peak[c + 1])) {
            point('L', x + 1, floor_y);
            path += 'Z';
        }
    }
    if (!path.empty()) {
        s += "<path class=\"level\" d=\"" + path + "\" fill=\"#8fb4dc\" stroke=\"#3f78b5\" stroke-width=\"0.6\"/>\n";
    }

    // Lost frames in their lane, at least two units wide so a single frame shows; when they are
    // few, a faint line over the level too.
    const std::vector<FrameRun> lost = lost_runs(chart);
    s += "<rect class=\"lane\" x=\"" + num(left) + "\" y=\"" + num(lane_y) + "\" width=\"" + num(plot_w) +
         "\" height=\"" + num(lane_h) + "\" fill=\"#f4f5f7\" stroke=\"#d5dbe1\"/>";
    s += "<text class=\"axis\" x=\"" + num(left - 6) + "\" y=\"" + num(lane_y + lane_h - 3) +
         "\" text-anchor=\"end\">lost</text>\n";
    for (const FrameRun& r : lost) {
        const double x0 = axis.x(r.start_s), w = std::max(2.0, axis.x(r.start_s + r.duration_s) - x0);
        if (lost.size() <= guided_runs) {
            s += "<rect class=\"lost-guide\" x=\"" + num(x0) + "\" y=\"" + num(top) + "\" width=\"" + num(w) +
                 "\" height=\"" + num(plot_h) + "\" fill=\"#d7263d\" fill-opacity=\"0.35\"/>";
        }
        s += "<rect class=\"lost\" data-t=\"" + num(r.start_s, 3) + "\" data-dur=\"" + num(r.duration_s, 3) +
             "\" x=\"" + num(x0) + "\" y=\"" + num(lane_y) + "\" width=\"" + num(w) + "\" height=\"" +
             num(lane_h) + "\" fill=\"#d7263d\"><title>lost " + num(r.duration_s * 1000, 0) + " ms at " +
             num(r.start_s, 2) + " s</title></rect>\n";
    }

    // Jitter on its own scale (right), one point per pixel column: the highest in it.
    if (!chart.jitter.empty()) {
        double top_ms = 0;
        for (const JitterSample& j : chart.jitter) top_ms = std::max(top_ms, j.jitter_ms);
        const double jstep = tick_step(std::max(top_ms, 1.0) * 2.5);
        const double scale_ms = std::max(jstep, std::ceil(top_ms / jstep) * jstep);
        std::vector<double> high(columns, -1);
        for (const JitterSample& j : chart.jitter) {
            const auto c = static_cast<std::size_t>(
                std::clamp(std::floor(axis.x(chart.offset_s + j.time_s) - left), 0.0, plot_w - 1));
            high[c] = std::max(high[c], j.jitter_ms);
        }
        std::string points;
        for (std::size_t c = 0; c < columns; ++c) {
            if (high[c] < 0) continue;
            if (!points.empty()) points += ' ';
            points += num(left + static_cast<double>(c) + 0.5);
            points += ',';
            points += num(floor_y - high[c] / scale_ms * plot_h);
        }
        s += "<polyline class=\"jitter\" points=\"" + points +
             "\" fill=\"none\" stroke=\"#e07b00\" stroke-width=\"1.2\" stroke-linejoin=\"round\"/>\n";
        for (double ms = 0; ms <= scale_ms * (1 + 1e-9); ms += jstep) {
            s += "<text class=\"axis jitter-axis\" x=\"" + num(left + plot_w + 6) + "\" y=\"" +
                 num(floor_y - ms / scale_ms * plot_h + 4) + "\" fill=\"#b35f00\">" +
                 num(ms, jstep >= 1 ? 0 : 1) + " ms</text>\n";
        }
    }
    return s + "</svg>\n";
}

}  // namespace g729report
