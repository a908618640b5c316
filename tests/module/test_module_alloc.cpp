// SPDX-License-Identifier: BSD-2-Clause
// The per-frame path allocates nothing: frame-in and frame-out of both translators, with the
// host's frame building, run under a counting allocator.
#include <gtest/gtest.h>

#include <cstdlib>

#include "alloc_counter.h"
#include "module_test_support.h"

namespace {

using orvane_test::Instance;
using orvane_test::slin_frame;

void* volatile g_keep = nullptr;

TEST(AllocationCounter, SeesNewAndMalloc) {
    if (!alloc_counter::available()) GTEST_SKIP() << "sanitizer runtime owns the allocator";
    alloc_counter::start();
    g_keep = ::operator new(16);
    ::operator delete(g_keep);
    g_keep = std::malloc(16);
    std::free(g_keep);
    g_keep = std::calloc(2, 8);
    g_keep = std::realloc(g_keep, 64);
    std::free(g_keep);
    EXPECT_EQ(alloc_counter::stop(), 4);
}

class FramePath : public orvane_test::ModuleTest {};

TEST_F(FramePath, AllocatesNothing) {
    if (!alloc_counter::available()) GTEST_SKIP() << "sanitizer runtime owns the allocator";
    const std::vector<int16_t>& speech = orvane_test::speech();
    Instance enc(encoder());
    Instance dec(decoder());
    long samples_out = 0;
    const int sizes[] = {160, 100, 240, 37, 80, 3};
    std::size_t pos = 0;
    alloc_counter::start();
    for (int round = 0; round < 40; ++round) {
        for (int n : sizes) {
            pel_frame in = slin_frame(speech.data() + pos, n);
            pos += static_cast<std::size_t>(n);
            if (pelhost::framein(enc.get(), &in) != 0) break;
            pel_frame* coded = pelhost::frameout(enc.get());
            if (coded == nullptr) continue;
            if (pelhost::framein(dec.get(), coded) != 0) break;
            if (pel_frame* decoded = pelhost::frameout(dec.get())) samples_out += decoded->samples;
        }
        pelhost::framein(enc.get(), encoder()->sample());
        pelhost::frameout(enc.get());
        pelhost::framein(dec.get(), decoder()->sample());
        pelhost::frameout(dec.get());
    }
    const long allocations = alloc_counter::stop();
    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(samples_out, static_cast<long>(pos / 80 * 80));
    EXPECT_TRUE(log_.lines().empty());
}

}  // namespace
