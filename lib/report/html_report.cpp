// SPDX-License-Identifier: BSD-2-Clause
#include "lib/report/html_report.h"

#include <cstdio>

#include "lib/report/html_text.h"

namespace g729report {

namespace {

constexpr std::string_view style = R"(
:root { --ink:#1f2933; --muted:#616e7c; --line:#e4e7eb; --card:#ffffff; --bg:#f3f5f7;
        --good:#1a7f37; --fair:#b7791f; --poor:#c62828; --lost:#d7263d; --dtx:#dce8f5;
        --level:#8fb4dc; --jitter:#e07b00; }
* { box-sizing: border-box; }
body { margin:0; background:var(--bg); color:var(--ink);
       font:15px/1.45 system-ui, -apple-system, "Segoe UI", Roboto, "Helvetica Neue", Arial, sans-serif; }
header, main, footer { max-width:1100px; margin:0 auto; padding:0 20px; }
header { padding-top:24px; }
h1 { font-size:24px; margin:0 0 4px; }
h2 { font-size:19px; margin:0 0 12px; }
h3 { font-size:15px; margin:0; font-weight:600; }
.source { color:var(--muted); margin:0 0 4px; word-break:break-all; }
.summary { color:var(--muted); margin:0; }
.call { background:var(--card); border:1px solid var(--line); border-radius:10px;
        box-shadow:0 1px 3px rgba(0,0,0,.05); padding:18px 20px; margin:20px 0; }
.note { background:#fff8e6; border-left:4px solid var(--fair); padding:6px 10px; margin:0 0 12px; }
.stream { margin:14px 0 6px; }
.headline { display:flex; flex-wrap:wrap; align-items:center; gap:8px 14px; margin-bottom:4px; }
.ssrc, .fact { color:var(--muted); font-size:13px; }
.mos { color:#fff; font-weight:700; border-radius:999px; padding:2px 12px; font-size:14px; }
.mos.good { background:var(--good); } .mos.fair { background:var(--fair); } .mos.poor { background:var(--poor); }
.mos.none { background:var(--muted); }
svg.timeline { width:100%; height:auto; display:block; font-size:11px; fill:var(--muted); }
svg.timeline text { fill:var(--muted); } svg.timeline text.jitter-axis { fill:#b35f00; }
.legend { display:flex; flex-wrap:wrap; gap:6px 18px; font-size:13px; color:var(--muted); margin:4px 0 8px; }
.swatch { display:inline-block; width:14px; height:10px; margin-right:5px; vertical-align:middle; border-radius:2px; }
.swatch.level { background:var(--level); border:1px solid #3f78b5; }
.swatch.lost { background:var(--lost); } .swatch.dtx { background:var(--dtx); border:1px solid #b8cde6; }
.swatch.jitter { height:3px; background:var(--jitter); }
.players { display:flex; flex-wrap:wrap; gap:12px 24px; margin:14px 0; }
.players figure { margin:0; }
.players figcaption { font-size:13px; color:var(--muted); margin-bottom:4px; }
.players audio { width:320px; }
table.figures { border-collapse:collapse; width:100%; font-size:14px; margin-top:8px; }
table.figures th, table.figures td { text-align:left; padding:5px 10px; border-bottom:1px solid var(--line); }
table.figures td { font-variant-numeric:tabular-nums; }
table.figures thead th { border-bottom:2px solid var(--line); }
table.figures tbody th { font-weight:500; color:var(--muted); width:30%; }
footer { color:var(--muted); font-size:13px; padding-bottom:30px; }
)";

std::string fixed(double v, int decimals) {
    char text[40];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

void write_headline(const StreamPanel& s, const Write& out) {
    std::string h = "<div class=\"headline\"><h3>" + escape_html(s.direction) + "</h3><span class=\"ssrc\">SSRC " +
                    escape_html(s.ssrc) + "</span>";
    if (s.mos) {
        h += "<span class=\"mos " + std::string(mos_grade(*s.mos)) + "\" data-mos=\"" + fixed(*s.mos, 2) +
             "\">MOS " + fixed(*s.mos, 2) + "</span>";
    } else {
        h += "<span class=\"mos none\">MOS n/a</span>";
    }
    if (s.r_factor) h += "<span class=\"fact\">R " + fixed(*s.r_factor, 0) + "</span>";
    h += "<span class=\"fact\">" + fixed(s.lost_percent, 1) + " % lost</span>";
    h += "<span class=\"fact\">" + fixed(s.duration_s, 2) + " s</span></div>\n";
    out(h);
}

void write_player(const std::string& caption, const std::string& kind, const std::string& ssrc, double duration_s,
                  const AudioSource& audio, const Write& out) {
    out("<figure><figcaption>" + escape_html(caption) + "</figcaption><audio controls preload=\"metadata\" "
        "data-kind=\"" + kind + "\"" + (ssrc.empty() ? "" : " data-ssrc=\"" + escape_html(ssrc) + "\"") +
        " data-duration=\"" + fixed(duration_s, 3) + "\" src=\"data:audio/wav;base64,");
    audio(out);
    out("\"></audio></figure>\n");
}

void write_call(const CallPanel& call, std::size_t number, const Write& out) {
    std::string title = "Call " + std::to_string(number);
    if (!call.streams.empty()) title += ": " + call.streams.front().direction;
    if (call.streams.size() == 2) title += " and back";
    out("<section class=\"call\" id=\"call-" + std::to_string(number) + "\">\n<h2>" + escape_html(title) + "</h2>\n");
    if (!call.note.empty()) out("<p class=\"note\">" + escape_html(call.note) + "</p>\n");
    out("<div class=\"legend\"><span><i class=\"swatch level\"></i>level per 10 ms frame (dBFS)</span>"
        "<span><i class=\"swatch lost\"></i>lost, concealed</span>"
        "<span><i class=\"swatch dtx\"></i>DTX pause, comfort noise</span>"
        "<span><i class=\"swatch jitter\"></i>jitter (ms, right scale)</span></div>\n");
    for (const StreamPanel& s : call.streams) {
        out("<div class=\"stream\" data-ssrc=\"" + escape_html(s.ssrc) + "\">\n");
        write_headline(s, out);
        out(svg_timeline(s.chart));
        out("</div>\n");
    }
    out("<div class=\"players\">\n");
    for (const StreamPanel& s : call.streams) {
        if (s.audio) write_player(s.direction, "stream", s.ssrc, s.duration_s, s.audio, out);
    }
    if (call.mix) {
        std::string caption = "Both directions (stereo: left " + call.streams.front().direction;
        caption += call.streams.size() > 1 ? ", right " + call.streams[1].direction + ")" : ", right silent)";
        write_player(caption, "mix", "", call.mix_duration_s, call.mix, out);
    }
    out("</div>\n<table class=\"figures\"><thead><tr><th></th>");
    for (const StreamPanel& s : call.streams) out("<th>" + escape_html(s.direction) + "</th>");
    out("</tr></thead><tbody>\n");
    const std::size_t rows = call.streams.empty() ? 0 : call.streams.front().figures.size();
    for (std::size_t r = 0; r < rows; ++r) {
        std::string row = "<tr><th>" + escape_html(call.streams.front().figures[r].first) + "</th>";
        for (const StreamPanel& s : call.streams) {
            row += "<td>" + (r < s.figures.size() ? escape_html(s.figures[r].second) : std::string()) + "</td>";
        }
        out(row + "</tr>\n");
    }
    out("</tbody></table>\n</section>\n");
}

}  // namespace

const char* mos_grade(double mos) {
    if (mos >= 4.0) return "good";
    if (mos >= 3.6) return "fair";
    return "poor";
}

void write_report(const ReportPage& page, const Write& out) {
    out("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>Call report: " +
        escape_html(page.source) + "</title>\n<style>");
    out(style);
    out("</style>\n</head>\n<body>\n<header>\n<h1>Call report</h1>\n<p class=\"source\">" + escape_html(page.source) +
        "</p>\n");
    for (const std::string& line : page.summary) out("<p class=\"summary\">" + escape_html(line) + "</p>\n");
    out("</header>\n<main>\n");
    for (std::size_t i = 0; i < page.calls.size(); ++i) write_call(page.calls[i], i + 1, out);
    out("</main>\n<footer>MOS and R: an E-model estimate from loss, loss bursts and jitter, not a listening "
        "test (green 4.0 and up, amber 3.6 to 4.0, red below). Levels are the RMS of each 10 ms frame "
        "as decoded, concealment and comfort noise included.</footer>\n</body>\n</html>\n");
}

}  // namespace g729report
