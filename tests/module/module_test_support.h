// SPDX-License-Identifier: BSD-2-Clause
// Shared helpers of the module tests: the loaded module, captured log lines, frames, speech,
// and the codec run directly for reference.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include <pellarion/pel_host.h>
#include "host/pel_host_control.h"

namespace orvane_test {

struct LogLine {
    int level;
    std::string file;
    int line;
    std::string function;
    std::string message;
};

// Collects every pel_log line while alive (nothing reaches stderr meanwhile).
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    std::vector<LogLine> lines() const;
    void clear();

private:
    static void sink(void* user, int level, const char* file, int line, const char* function,
                     const char* message);
    mutable std::mutex lock_;
    std::vector<LogLine> lines_;
};

// Expects exactly one captured line: an error from the module's function with that message.
void expect_single_error(const LogCapture& log, const std::string& function,
                         const std::string& message);

// Loads the module for each test and unloads it afterwards.
class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    pel_translator* encoder() const { return pelhost::find_translator("lintog729"); }
    pel_translator* decoder() const { return pelhost::find_translator("g729tolin"); }

    LogCapture log_;
    pelhost::LoadedModule* module_ = nullptr;
};

// Owns one translator instance.
class Instance {
public:
    explicit Instance(pel_translator* t) : pvt_(pelhost::new_instance(t)) {}
    ~Instance() { pelhost::free_instance(pvt_); }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;
    pel_trans_pvt* get() const { return pvt_; }
    pel_trans_pvt* operator->() const { return pvt_; }

private:
    pel_trans_pvt* pvt_;
};

pel_frame slin_frame(const int16_t* samples, int count);
pel_frame g729_frame(const uint8_t* bytes, int length);

// The project's speech recording, 8 kHz.
const std::vector<int16_t>& speech();

// The codec run directly: 10 bytes per 80 samples from a fresh encoder; 80 samples per unit
// (10 or 2 bytes) from a fresh decoder.
std::vector<uint8_t> encode_direct(std::span<const int16_t> samples);
std::vector<int16_t> decode_direct(std::span<const uint8_t> bytes, std::span<const int> units);

std::string module_path();
// The command that starts pelhost (through the emulator in a cross build).
std::string pelhost_command();

}  // namespace orvane_test
