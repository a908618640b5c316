// SPDX-License-Identifier: BSD-2-Clause
// Loading, unloading and reloading the module through the host; its records; the CLI command.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codec/g729.h"
#include "module_test_support.h"
#include "tests/audio_test_files.h"

namespace {

using orvane_test::LogCapture;
using orvane_test::ModuleTest;
using Events = std::vector<std::string>;

const Events kLoadEvents = {
    "register module codec_orvane",
    "register cli g729 show version",
    "register translator g729tolin",
    "register translator lintog729",
};

const Events kUnloadEvents = {
    "unregister translator lintog729",
    "unregister translator g729tolin",
    "unregister cli g729 show version",
    "unregister module codec_orvane",
};

const char kVersionLine[] = "Corvida G.729A Module Version 19.0_3.1.10 (optimized for x86_64\n";

TEST(ModuleLifecycle, LoadRegistersCliThenDecoderThenEncoderAndUnloadReverses) {
    LogCapture log;
    pelhost::clear_events();
    std::string error;
    pelhost::LoadedModule* m = pelhost::load_module_file(orvane_test::module_path(), &error);
    ASSERT_NE(m, nullptr) << error;
    EXPECT_EQ(pelhost::events(), kLoadEvents);
    EXPECT_EQ(pelhost::registered_module_count(), 1);

    // One start-up notice naming the module and its version.
    const std::vector<orvane_test::LogLine> lines = log.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, 2);
    EXPECT_EQ(lines[0].file, "codec_orvane");
    EXPECT_EQ(lines[0].function, "load_module");
    EXPECT_NE(lines[0].message.find("G.729A"), std::string::npos);
    EXPECT_NE(lines[0].message.find("19.0_3.1.10"), std::string::npos);

    // Both translators carry the module handle the host gave at registration.
    const pel_module_info* info = pelhost::module_info(m);
    ASSERT_NE(info->self, nullptr);
    EXPECT_EQ(pelhost::find_translator("lintog729")->module, info->self);
    EXPECT_EQ(pelhost::find_translator("g729tolin")->module, info->self);
    ASSERT_NE(pelhost::find_cli_command("g729 show version"), nullptr);
    EXPECT_EQ(pelhost::find_cli_command("g729 show version")->module, info->self);

    pelhost::clear_events();
    EXPECT_EQ(pelhost::unload_module(m), 0);
    EXPECT_EQ(pelhost::events(), kUnloadEvents);
    EXPECT_EQ(pelhost::registered_module_count(), 0);
    EXPECT_TRUE(pelhost::registered_translators().empty());
    EXPECT_TRUE(pelhost::cli_commands().empty());
}

TEST(ModuleLifecycle, ReloadChangesNothingAndTheFileLoadsAgainAfterUnload) {
    LogCapture log;
    for (int round = 0; round < 2; ++round) {
        pelhost::clear_events();
        std::string error;
        pelhost::LoadedModule* m = pelhost::load_module_file(orvane_test::module_path(), &error);
        ASSERT_NE(m, nullptr) << error;
        // The constructor ran again: the file was really unloaded in between.
        EXPECT_EQ(pelhost::events(), kLoadEvents);

        pelhost::clear_events();
        EXPECT_EQ(pelhost::reload_module(m), 0);
        EXPECT_TRUE(pelhost::events().empty());
        EXPECT_NE(pelhost::find_translator("lintog729"), nullptr);
        EXPECT_NE(pelhost::find_translator("g729tolin"), nullptr);
        EXPECT_NE(pelhost::find_cli_command("g729 show version"), nullptr);
        EXPECT_EQ(pelhost::unload_module(m), 0);
    }
}

struct FailureCase {
    int decoder_result;
    int encoder_result;
};

class FailingRegistration : public ::testing::TestWithParam<FailureCase> {
protected:
    void TearDown() override {
        pelhost::set_translator_registration_result("g729tolin", 0);
        pelhost::set_translator_registration_result("lintog729", 0);
    }
};

TEST_P(FailingRegistration, UnregistersEverythingAndReturnsTheOrOfTheResults) {
    const FailureCase c = GetParam();
    LogCapture log;
    pelhost::set_translator_registration_result("g729tolin", c.decoder_result);
    pelhost::set_translator_registration_result("lintog729", c.encoder_result);
    pelhost::clear_events();
    std::string error;
    int load_result = 0;
    EXPECT_EQ(pelhost::load_module_file(orvane_test::module_path(), &error, &load_result), nullptr);
    EXPECT_EQ(load_result, c.decoder_result | c.encoder_result);

    auto registration = [](const char* name, int result) {
        return std::string("register translator ") + name +
               (result != 0 ? " failed " + std::to_string(result) : "");
    };
    auto unregistration = [](const char* name, int result) {
        return std::string("unregister translator ") + name +
               (result != 0 ? " (not registered)" : "");
    };
    const Events expected = {
        "register module codec_orvane",
        "register cli g729 show version",
        registration("g729tolin", c.decoder_result),
        registration("lintog729", c.encoder_result),
        unregistration("lintog729", c.encoder_result),
        unregistration("g729tolin", c.decoder_result),
        "unregister cli g729 show version",
        "unregister module codec_orvane",  // the host closed the file again
    };
    EXPECT_EQ(pelhost::events(), expected);
    EXPECT_TRUE(pelhost::registered_translators().empty());
    EXPECT_TRUE(pelhost::cli_commands().empty());
    EXPECT_EQ(pelhost::registered_module_count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Results, FailingRegistration,
                         ::testing::Values(FailureCase{0, 2}, FailureCase{1, 0},
                                           FailureCase{4, 1}, FailureCase{-1, 0}));

TEST_F(ModuleTest, ModuleInformationRecord) {
    const pel_module_info* info = pelhost::module_info(module_);
    EXPECT_STREQ(info->name, "codec_orvane");
    EXPECT_STREQ(info->description, "Corvida G.729 Annex A Codec (optimized for x86_64");
    EXPECT_EQ(info->flags, 3u);
    EXPECT_EQ(info->buildopt_sum[0], '\0');
    EXPECT_EQ(info->load_pri, 128u);
    EXPECT_EQ(info->required_modules, nullptr);
    EXPECT_EQ(info->optional_modules, nullptr);
    EXPECT_EQ(info->enhances, nullptr);
    EXPECT_EQ(info->support_level, 2);
    ASSERT_NE(info->load, nullptr);
    ASSERT_NE(info->unload, nullptr);
    ASSERT_NE(info->reload, nullptr);
}

void expect_codec(const pel_codec& c, const char* name) {
    EXPECT_STREQ(c.name, name);
    EXPECT_EQ(c.type, 1);
    EXPECT_EQ(c.sample_rate, 8000u);
    EXPECT_EQ(c.id, 0u);
    EXPECT_EQ(c.description, nullptr);
    EXPECT_EQ(c.minimum_ms, 0u);
    EXPECT_EQ(c.maximum_ms, 0u);
    EXPECT_EQ(c.default_ms, 0u);
}

TEST_F(ModuleTest, TranslatorRecords) {
    const pel_translator* enc = encoder();
    EXPECT_STREQ(enc->name, "lintog729");
    expect_codec(enc->src_codec, "slin");
    expect_codec(enc->dst_codec, "g729");
    EXPECT_STREQ(enc->format, "g729");
    EXPECT_NE(enc->newpvt, nullptr);
    EXPECT_NE(enc->framein, nullptr);
    EXPECT_NE(enc->frameout, nullptr);
    EXPECT_NE(enc->sample, nullptr);
    EXPECT_EQ(enc->destroy, nullptr);
    EXPECT_EQ(enc->feedback, nullptr);
    EXPECT_EQ(enc->native_plc, 0);
    EXPECT_EQ(enc->buffer_samples, 8000);
    EXPECT_EQ(enc->buf_size, 16000);
    EXPECT_EQ(enc->desc_size, sizeof(g729_encoder_state) + 16000);

    const pel_translator* dec = decoder();
    EXPECT_STREQ(dec->name, "g729tolin");
    expect_codec(dec->src_codec, "g729");
    expect_codec(dec->dst_codec, "slin");
    EXPECT_STREQ(dec->format, "slin");
    EXPECT_NE(dec->newpvt, nullptr);
    EXPECT_NE(dec->framein, nullptr);
    EXPECT_EQ(dec->frameout, nullptr);  // the host's default frame-out
    EXPECT_NE(dec->sample, nullptr);
    EXPECT_EQ(dec->destroy, nullptr);
    EXPECT_EQ(dec->feedback, nullptr);
    EXPECT_EQ(dec->native_plc, 0);
    EXPECT_EQ(dec->buffer_samples, 8000);
    EXPECT_EQ(dec->buf_size, 16000);
    EXPECT_EQ(dec->desc_size, sizeof(g729_decoder_state));
}

// Reads everything a pipe's write end received.
std::string drain(int fd) {
    std::string text;
    char buf[256];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
    return text;
}

TEST_F(ModuleTest, ShowVersionWritesExactlyTheVersionLine) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    EXPECT_EQ(pelhost::run_cli("g729 show version", fds[1]), 0);
    EXPECT_EQ(pelhost::run_cli("g729   show\tversion", fds[1]), 0);
    EXPECT_EQ(pelhost::run_cli("g729 show versions", fds[1]), -1);
    close(fds[1]);
    EXPECT_EQ(drain(fds[0]), std::string(kVersionLine) + kVersionLine);
    close(fds[0]);
}

TEST_F(ModuleTest, CliEntryTextsAndRequests) {
    pel_cli_entry* e = pelhost::find_cli_command("g729 show version");
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e->command, "g729 show version");
    EXPECT_STREQ(e->summary, "Show G.729 Module Version");
    EXPECT_STREQ(e->usage, "Usage: show g729 version\n       Displays G.729 module version\n");

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pel_cli_args args{fds[1], 0, nullptr, ""};
    EXPECT_EQ(e->handler(e, PEL_CLI_GENERATE, &args), nullptr);  // completions: nothing
    EXPECT_EQ(e->handler(e, PEL_CLI_INIT, nullptr), nullptr);
    EXPECT_STREQ(e->command, "g729 show version");
    EXPECT_EQ(e->handler(e, PEL_CLI_HANDLER, &args), nullptr);
    EXPECT_EQ(e->handler(e, 7, &args), nullptr);  // any other request executes
    close(fds[1]);
    EXPECT_EQ(drain(fds[0]), std::string(kVersionLine) + kVersionLine);
    close(fds[0]);
}

// A host program may exit with the module still loaded: the module's destructor then
// unregisters it after the host's own static objects would have been destroyed. Under the
// address sanitizer a destroyed registry shows up here as a use after free.
TEST(ModuleLifecycleDeathTest, ProgramMayExitWithTheModuleStillLoaded) {
    // Under a user-mode emulator (cross build) the test program cannot start itself again:
    // the child is then forked instead.
    GTEST_FLAG_SET(death_test_style,
                   std::string(G729_CHILD_LAUNCHER).empty() ? "threadsafe" : "fast");
    EXPECT_EXIT(
        {
            std::string error;
            if (pelhost::load_module_file(orvane_test::module_path(), &error) == nullptr) {
                std::_Exit(3);
            }
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

class PelhostCli : public test_audio::TempDirTest {
protected:
    test_audio::RunResult pelhost(const std::string& args) const {
        return test_audio::run_captured(orvane_test::pelhost_command() + " " + args, dir_);
    }
};

TEST_F(PelhostCli, PrintsOnlyTheVersionLineOnStdout) {
    test_audio::RunResult r =
        pelhost("--module " + orvane_test::module_path() + " cli 'g729 show version'");
    EXPECT_EQ(r.out, kVersionLine);
    EXPECT_EQ(r.status, 0);
    // Without --module the host finds ../lib/codec_orvane.so beside itself; its start-up
    // notice, which names the version too, goes to stderr.
    r = pelhost("cli 'g729 show version'");
    EXPECT_EQ(r.out, kVersionLine);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("19.0_3.1.10"), std::string::npos) << r.err;
    r = pelhost("cli 'g729 show nothing'");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 1);
    r = pelhost("--module /nonexistent/codec_orvane.so cli 'g729 show version'");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 1);
}

}  // namespace
