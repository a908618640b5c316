// SPDX-License-Identifier: BSD-2-Clause
// The call report's pieces: base64 against the RFC 4648 vectors and in pieces, text escaping,
// frame levels, the timeline chart's marks at their times on the axis, and the page.

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "lib/report/base64.h"
#include "lib/report/html_report.h"
#include "lib/report/html_text.h"
#include "lib/report/svg_timeline.h"

namespace {

using g729rtp::FrameKind;
using namespace g729report;

std::vector<uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

TEST(ReportBase64, Rfc4648VectorsAndPieces) {
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
        {"\xfb\xff", "+/8="}, {"\xff\xfe\xfd", "//79"}};
    for (const auto& [in, out] : vectors) EXPECT_EQ(base64(bytes(in)), out) << in;
    EXPECT_EQ(base64(std::vector<uint8_t>(3, 0)), "AAAA");

    // Every byte value, fed in pieces of every size from 1 to 7: the same text as at once.
    std::vector<uint8_t> all;
    for (int i = 0; i < 1000; ++i) all.push_back(static_cast<uint8_t>(i * 37 + i / 256));
    const std::string whole = base64(all);
    EXPECT_EQ(whole.size(), (all.size() + 2) / 3 * 4);
    for (std::size_t piece = 1; piece <= 7; ++piece) {
        Base64Encoder e;
        std::string text;
        for (std::size_t at = 0; at < all.size(); at += piece) {
            e.add(std::span(all).subspan(at, std::min(piece, all.size() - at)), text);
        }
        e.finish(text);
        EXPECT_EQ(text, whole) << piece;
    }
}

TEST(ReportText, EscapesMarkupCharactersOnly) {
    EXPECT_EQ(escape_html("<a href=\"x\">Tom & 'Jerry'</a>"),
              "&lt;a href=&quot;x&quot;&gt;Tom &amp; &#39;Jerry&#39;&lt;/a&gt;");
    EXPECT_EQ(escape_html("10.0.0.1:4000 \u2192 [fd00::2]:5000"), "10.0.0.1:4000 \u2192 [fd00::2]:5000");
    EXPECT_EQ(escape_html(""), "");
}

TEST(ReportLevels, RmsInDecibelsOfFullScale) {
    auto level = [](const std::vector<int16_t>& v) { return level_dbfs(v.data(), v.size()); };
    std::vector<int16_t> sine(800);
    for (std::size_t i = 0; i < sine.size(); ++i) {
        sine[i] = static_cast<int16_t>(std::lround(32767 * std::sin(2 * std::numbers::pi * 100 * static_cast<double>(i) / 8000)));
    }
    EXPECT_NEAR(level(sine), -3.01, 0.01);
    EXPECT_NEAR(level(std::vector<int16_t>(80, -32768)), 0.0, 1e-9);
    EXPECT_NEAR(level(std::vector<int16_t>(80, 3277)), -20.0, 0.01);
    EXPECT_EQ(level(std::vector<int16_t>(80, 0)), level_floor_db);
    EXPECT_EQ(level({}), level_floor_db);
    EXPECT_EQ(level(std::vector<int16_t>(80, 1)), level_floor_db);  // -90 dB: on the floor
}

TEST(ReportTimeline, TickSteps) {
    const std::pair<double, double> cases[] = {{10, 1}, {14.49, 2}, {0.5, 0.05}, {3600, 500}, {100, 10}, {25, 5}, {0, 1}};
    for (const auto& [span, step] : cases) EXPECT_DOUBLE_EQ(tick_step(span), step) << span;
}

// The number in attribute `name` of an SVG element's text.
double attribute(const std::string& element, const std::string& name) {
    const std::string key = " " + name + "=\"";
    const std::size_t at = element.find(key);
    if (at == std::string::npos) return NAN;
    const std::size_t from = at + key.size();
    const std::string value = element.substr(from, element.find('"', from) - from);
    if (value.empty() || value.find_first_not_of("-0123456789.") != std::string::npos) return NAN;
    return std::stod(value);
}

std::vector<std::string> elements(const std::string& svg, const std::string& start) {
    std::vector<std::string> found;
    for (std::size_t at = svg.find(start); at != std::string::npos; at = svg.find(start, at + 1)) {
        found.push_back(svg.substr(at, svg.find('>', at) - at + 1));
    }
    return found;
}

TEST(ReportTimeline, LostAndPauseFramesAreMarkedAtTheirTimes) {
    TimelineChart chart;
    auto add = [&](FrameKind kind, int count, uint16_t samples = 80) {
        for (int i = 0; i < count; ++i) chart.frames.push_back({kind, samples, -20});
    };
    add(FrameKind::speech, 10);
    add(FrameKind::lost, 2);
    add(FrameKind::speech, 5);
    add(FrameKind::lost, 1, 40);  // cut short by the next packet's timestamp
    add(FrameKind::sid, 1);
    add(FrameKind::pause, 3);
    add(FrameKind::speech, 2);
    chart.offset_s = 1.5;
    chart.axis_s = 3;
    chart.label = "a <script> & \"b\"";
    chart.jitter = {{0.0, 0.0}, {0.1, 2.5}, {0.2, 1.0}};

    // Times from the frame counts: 10 frames of 10 ms after the offset, and so on.
    const std::vector<std::pair<double, double>> lost = {{1.60, 0.02}, {1.67, 0.005}};
    const std::vector<std::pair<double, double>> pauses = {{1.675, 0.04}};
    const auto runs = lost_runs(chart);
    ASSERT_EQ(runs.size(), lost.size());
    for (std::size_t i = 0; i < runs.size(); ++i) {
        EXPECT_NEAR(runs[i].start_s, lost[i].first, 1e-9);
        EXPECT_NEAR(runs[i].duration_s, lost[i].second, 1e-9);
    }
    ASSERT_EQ(pause_runs(chart).size(), 1u);
    EXPECT_NEAR(pause_runs(chart)[0].start_s, pauses[0].first, 1e-9);
    EXPECT_NEAR(pause_runs(chart)[0].duration_s, pauses[0].second, 1e-9);

    const std::string svg = svg_timeline(chart);
    EXPECT_EQ(svg.rfind("<svg", 0), 0u);
    EXPECT_EQ(svg.find("http"), std::string::npos);  // inline: no namespace URL
    EXPECT_EQ(svg.find("<script>"), std::string::npos);
    EXPECT_NE(svg.find("a &lt;script&gt; &amp; &quot;b&quot;"), std::string::npos);
    const auto plots = elements(svg, "<rect class=\"plot\"");
    ASSERT_EQ(plots.size(), 1u);
    const double left = attribute(plots[0], "x"), width = attribute(plots[0], "width");
    const auto marks = elements(svg, "<rect class=\"lost\"");
    ASSERT_EQ(marks.size(), lost.size());
    for (std::size_t i = 0; i < marks.size(); ++i) {
        SCOPED_TRACE(marks[i]);
        EXPECT_NEAR(attribute(marks[i], "data-t"), lost[i].first, 5e-4);
        EXPECT_NEAR(attribute(marks[i], "data-dur"), lost[i].second, 5e-4);
        EXPECT_NEAR(attribute(marks[i], "x"), left + lost[i].first / chart.axis_s * width, 0.06);
        EXPECT_GE(attribute(marks[i], "width"), 2.0);  // a single frame still shows
    }
    const auto dtx = elements(svg, "<rect class=\"dtx\"");
    ASSERT_EQ(dtx.size(), 1u);
    EXPECT_NEAR(attribute(dtx[0], "x"), left + pauses[0].first / chart.axis_s * width, 0.06);
    EXPECT_EQ(elements(svg, "<polyline class=\"jitter\"").size(), 1u);
    EXPECT_EQ(elements(svg, "<path class=\"level\"").size(), 1u);

    chart.jitter.clear();
    chart.frames.clear();
    const std::string empty = svg_timeline(chart);
    EXPECT_EQ(elements(empty, "<polyline").size(), 0u);
    EXPECT_EQ(elements(empty, "<path class=\"level\"").size(), 0u);
    EXPECT_EQ(elements(empty, "<rect class=\"lost\"").size(), 0u);
}

TEST(ReportPage, SelfContainedWithPlayersAndGradedHeadlines) {
    const std::pair<double, const char*> grades[] = {{4.4, "good"}, {4.0, "good"}, {3.99, "fair"}, {3.6, "fair"},
                                                     {3.59, "poor"}, {1.0, "poor"}};
    for (const auto& [mos, grade] : grades) EXPECT_STREQ(mos_grade(mos), grade) << mos;

    ReportPage page;
    page.source = "calls <1>.pcap";
    CallPanel call;
    for (const auto& [direction, mos] : {std::pair{"A:1 \u2192 B:2 <&>", 4.2}, std::pair{"B:2 \u2192 A:1", 3.1}}) {
        StreamPanel s;
        s.direction = direction;
        s.ssrc = mos > 4 ? "0000000a" : "0000000b";
        s.mos = mos;
        s.duration_s = mos > 4 ? 12.34 : 2.5;
        s.figures = {{"Packets received", "617"}, {"Lost", "3 (0.48 %)"}};
        s.chart.axis_s = 14;
        if (mos > 4) s.audio = [](const Write& out) { out("QUJD"); };  // the second has none
        call.streams.push_back(std::move(s));
    }
    call.mix_duration_s = 14;
    call.mix = [](const Write& out) { out("REVG"); };
    page.calls.push_back(std::move(call));

    std::string html;
    write_report(page, [&](std::string_view s) { html += s; });
    EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_EQ(html.find("http"), std::string::npos);
    EXPECT_EQ(html.find("<&>"), std::string::npos);
    EXPECT_NE(html.find("A:1 \u2192 B:2 &lt;&amp;&gt;"), std::string::npos);
    EXPECT_NE(html.find("calls &lt;1&gt;.pcap"), std::string::npos);
    EXPECT_EQ(elements(html, "<audio").size(), 2u);
    EXPECT_NE(html.find("data-ssrc=\"0000000a\" data-duration=\"12.340\" src=\"data:audio/wav;base64,QUJD\""),
              std::string::npos);
    EXPECT_NE(html.find("data-kind=\"mix\" data-duration=\"14.000\" src=\"data:audio/wav;base64,REVG\""),
              std::string::npos);
    EXPECT_NE(html.find("class=\"mos good\" data-mos=\"4.20\""), std::string::npos);
    EXPECT_NE(html.find("class=\"mos poor\" data-mos=\"3.10\""), std::string::npos);
    EXPECT_EQ(elements(html, "<svg").size(), 2u);
    EXPECT_NE(html.find("<tr><th>Lost</th><td>3 (0.48 %)</td><td>3 (0.48 %)</td></tr>"), std::string::npos);
}

}  // namespace
