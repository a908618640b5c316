// SPDX-License-Identifier: BSD-2-Clause
// Many translator instances on many threads at once: each produces exactly what the same
// instance produces when it runs alone, so instances share no state.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "module_test_support.h"

namespace {

using orvane_test::Instance;

constexpr int kEncoders = 64;
constexpr int kDecoders = 64;
constexpr int kThreads = 8;
constexpr int kSamplesPerJob = 4000;  // half a second of speech each

// One instance's whole input, cut into host frames, and what it produced.
struct Job {
    bool encoder = true;
    std::vector<std::vector<uint8_t>> frames;  // raw frame payloads (slin as bytes, or g729)
    std::vector<uint8_t> output;
};

class ParallelInstances : public orvane_test::ModuleTest {
protected:
    // Encoder job i: its own slice of the recording in its own frame size.
    Job encoder_job(int i) const {
        const std::vector<int16_t>& speech = orvane_test::speech();
        const std::size_t start = (static_cast<std::size_t>(i) * 1361) % (speech.size() - kSamplesPerJob);
        const int sizes[] = {160, 80, 240, 100, 37, 320, 8};
        const int size = sizes[i % 7];
        Job job;
        for (int pos = 0; pos < kSamplesPerJob; pos += size) {
            const int n = std::min(size, kSamplesPerJob - pos);
            const auto* b = reinterpret_cast<const uint8_t*>(speech.data() + start + static_cast<std::size_t>(pos));
            job.frames.emplace_back(b, b + 2 * n);
        }
        return job;
    }

    // Decoder job i: the coded speech of encoder job i in payloads of 1..4 frames, some
    // followed by a SID unit.
    Job decoder_job(int i) const {
        const Job source = encoder_job(i);
        std::vector<int16_t> samples;
        for (const auto& f : source.frames) {
            const auto* s = reinterpret_cast<const int16_t*>(f.data());
            samples.insert(samples.end(), s, s + f.size() / 2);
        }
        const std::vector<uint8_t> coded = orvane_test::encode_direct(samples);
        Job job;
        job.encoder = false;
        const std::size_t per = static_cast<std::size_t>(1 + i % 4) * 10;
        int k = 0;
        for (std::size_t pos = 0; pos < coded.size(); pos += per, ++k) {
            std::vector<uint8_t> p(coded.begin() + static_cast<std::ptrdiff_t>(pos),
                                   coded.begin() + static_cast<std::ptrdiff_t>(std::min(pos + per, coded.size())));
            if (i % 3 == 0 && k % 5 == 4) {
                p.push_back(static_cast<uint8_t>(0x40 + i));
                p.push_back(static_cast<uint8_t>(0x11 * k));
            }
            job.frames.push_back(std::move(p));
        }
        return job;
    }

    // Feeds frame `index` of the job to the instance and keeps what comes out.
    static void step(Job& job, pel_trans_pvt* pvt, std::size_t index) {
        const std::vector<uint8_t>& f = job.frames[index];
        pel_frame in{PEL_FRAME_VOICE, job.encoder ? pel_format_slin : pel_format_g729,
                     static_cast<int>(f.size()), job.encoder ? static_cast<int>(f.size() / 2) : 0,
                     "test", f.data(), 0, 0};
        if (pelhost::framein(pvt, &in) != 0) {
            job.output.push_back(0xee);  // marks a refusal, which must not happen
            return;
        }
        if (pel_frame* out = pelhost::frameout(pvt)) {
            const auto* b = static_cast<const uint8_t*>(out->data);
            job.output.insert(job.output.end(), b, b + out->datalen);
        }
    }
};

TEST_F(ParallelInstances, EachInstanceMatchesItsSoloRun) {
    std::vector<Job> jobs;
    for (int i = 0; i < kEncoders; ++i) jobs.push_back(encoder_job(i));
    for (int i = 0; i < kDecoders; ++i) jobs.push_back(decoder_job(i));

    // Alone: one instance at a time.
    std::vector<std::vector<uint8_t>> solo;
    for (Job job : jobs) {
        Instance pvt(job.encoder ? encoder() : decoder());
        for (std::size_t k = 0; k < job.frames.size(); ++k) step(job, pvt.get(), k);
        solo.push_back(job.output);
    }

    // Together: every thread drives its share of the instances in turn, one frame each.
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::vector<std::size_t> mine;
            std::vector<std::unique_ptr<Instance>> instances;
            for (std::size_t j = static_cast<std::size_t>(t); j < jobs.size(); j += kThreads) {
                mine.push_back(j);
                instances.push_back(std::make_unique<Instance>(jobs[j].encoder ? encoder() : decoder()));
            }
            ready.fetch_add(1);
            while (ready.load() < kThreads) std::this_thread::yield();
            for (std::size_t k = 0;; ++k) {
                bool any = false;
                for (std::size_t m = 0; m < mine.size(); ++m) {
                    Job& job = jobs[mine[m]];
                    if (k >= job.frames.size()) continue;
                    step(job, instances[m]->get(), k);
                    any = true;
                }
                if (!any) break;
            }
        });
    }
    for (std::thread& th : threads) th.join();

    for (std::size_t j = 0; j < jobs.size(); ++j) {
        SCOPED_TRACE(j);
        EXPECT_EQ(jobs[j].output, solo[j]);
    }
    // The instances really did different work.
    EXPECT_NE(solo[0], solo[1]);
    EXPECT_NE(solo[kEncoders], solo[kEncoders + 1]);
    EXPECT_EQ(solo[0].size(), static_cast<std::size_t>(kSamplesPerJob / 80 * 10));
    // 50 speech frames; decoder job 0 also carries 10 SID units, job 1 none.
    EXPECT_EQ(solo[kEncoders].size(), static_cast<std::size_t>((kSamplesPerJob / 80 + 10) * 160));
    EXPECT_EQ(solo[kEncoders + 1].size(), static_cast<std::size_t>(kSamplesPerJob / 80 * 160));
    EXPECT_TRUE(log_.lines().empty());
}

}  // namespace
