// SPDX-License-Identifier: BSD-2-Clause
#include "module_test_support.h"


#include <cstdio>
#include <memory>

#include "codec/g729.h"
#include "lib/io/pcm_io.h"

namespace orvane_test {

LogCapture::LogCapture() { pelhost::set_log_sink(&LogCapture::sink, this); }

LogCapture::~LogCapture() { pelhost::set_log_sink(nullptr, nullptr); }

void LogCapture::sink(void* user, int level, const char* file, int line, const char* function,
                      const char* message) {
    auto* self = static_cast<LogCapture*>(user);
    std::lock_guard<std::mutex> g(self->lock_);
    self->lines_.push_back(LogLine{level, file, line, function, message});
}

std::vector<LogLine> LogCapture::lines() const {
    std::lock_guard<std::mutex> g(lock_);
    return lines_;
}

void LogCapture::clear() {
    std::lock_guard<std::mutex> g(lock_);
    lines_.clear();
}

void expect_single_error(const LogCapture& log, const std::string& function,
                         const std::string& message) {
    const std::vector<LogLine> lines = log.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, 3);
    EXPECT_EQ(lines[0].file, "codec_orvane");
    EXPECT_GT(lines[0].line, 0);
    EXPECT_EQ(lines[0].function, function);
    EXPECT_EQ(lines[0].message, message);
}

std::string module_path() { return ORVANE_MODULE_PATH; }

std::string pelhost_command() { return std::string(G729_CHILD_LAUNCHER) + PELHOST_PATH; }

void ModuleTest::SetUp() {
    pelhost::clear_events();
    std::string error;
    module_ = pelhost::load_module_file(module_path(), &error);
    ASSERT_NE(module_, nullptr) << error;
    ASSERT_NE(encoder(), nullptr);
    ASSERT_NE(decoder(), nullptr);
    log_.clear();
}

void ModuleTest::TearDown() {
    if (module_ != nullptr) {
        EXPECT_EQ(pelhost::unload_module(module_), 0);
    }
}

pel_frame slin_frame(const int16_t* samples, int count) {
    return pel_frame{PEL_FRAME_VOICE, pel_format_slin, 2 * count, count, "test", samples, 0, 0};
}

pel_frame g729_frame(const uint8_t* bytes, int length) {
    return pel_frame{PEL_FRAME_VOICE, pel_format_g729, length, 0, "test", bytes, 0, 0};
}

const std::vector<int16_t>& speech() {
    static const std::vector<int16_t> samples = g729io::read_wav(ORVANE_SPEECH_WAV);
    return samples;
}

std::vector<uint8_t> encode_direct(std::span<const int16_t> samples) {
    auto state = std::make_unique<g729_encoder_state>();
    g729_encoder_init(state.get(), 0);
    std::vector<uint8_t> out;
    for (std::size_t pos = 0; pos + 80 <= samples.size(); pos += 80) {
        uint8_t bytes[10];
        int32_t count = 0;
        g729_encode_frame(state.get(), samples.data() + pos, bytes, &count);
        EXPECT_EQ(count, 10);
        out.insert(out.end(), bytes, bytes + 10);
    }
    return out;
}

std::vector<int16_t> decode_direct(std::span<const uint8_t> bytes, std::span<const int> units) {
    auto state = std::make_unique<g729_decoder_state>();
    g729_decoder_init(state.get());
    std::vector<int16_t> out;
    std::size_t pos = 0;
    for (int unit : units) {
        int16_t samples[80];
        EXPECT_EQ(g729_decode_frame(state.get(), samples, bytes.data() + pos, unit), 0);
        out.insert(out.end(), samples, samples + 80);
        pos += static_cast<std::size_t>(unit);
    }
    return out;
}

}  // namespace orvane_test
