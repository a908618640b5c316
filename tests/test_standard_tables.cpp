// SPDX-License-Identifier: BSD-2-Clause
// Every constant table of the codec against the standard's published tables
// (../shared/tables/g729_tables.txt), entry by entry and bit for bit: the nearest double to each
// decimal, (double)(float) of it where the standard keeps single precision, the integers as
// written. Skips when the published tables are absent.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "codec/tables/comfort_noise_tables.h"
#include "codec/tables/decoder_tables.h"
#include "codec/tables/gain_tables.h"
#include "codec/tables/lpc_analysis_tables.h"
#include "codec/tables/lsp_quantizer_tables.h"
#include "codec/tables/pitch_tables.h"
#include "codec/tables/sid_lsf_tables.h"
#include "codec/tables/vad_tables.h"

using namespace g729;

namespace {

// A codec table as a flat row-major array.
struct CodecTable {
    const double* doubles = nullptr;
    const int32_t* ints = nullptr;
    std::size_t size = 0;
};

template <std::size_t N>
CodecTable flat(const double (&t)[N]) {
    return {t, nullptr, N};
}
template <std::size_t R, std::size_t C>
CodecTable flat(const double (&t)[R][C]) {
    return {&t[0][0], nullptr, R * C};
}
template <std::size_t A, std::size_t R, std::size_t C>
CodecTable flat(const double (&t)[A][R][C]) {
    return {&t[0][0][0], nullptr, A * R * C};
}
template <std::size_t N>
CodecTable flat(const int32_t (&t)[N]) {
    return {nullptr, t, N};
}
template <std::size_t R, std::size_t C>
CodecTable flat(const int32_t (&t)[R][C]) {
    return {nullptr, &t[0][0], R * C};
}

const std::map<std::string, CodecTable>& codec_tables() {
    static const std::map<std::string, CodecTable> tables = {
        {"lpc_analysis_window", flat(lpc_analysis_window)},
        {"lag_window_table", flat(lag_window_table)},
        {"lsp_codebook_1", flat(lsp_codebook_1)},
        {"lsp_codebook_2", flat(lsp_codebook_2)},
        {"lsf_ma_predictor", flat(lsf_ma_predictor)},
        {"lsf_ma_predictor_sum", flat(lsf_ma_predictor_sum)},
        {"lsf_ma_predictor_sum_inv", flat(lsf_ma_predictor_sum_inv)},
        {"lsp_search_grid", flat(lsp_search_grid)},
        {"excitation_interpolation_filter", flat(excitation_interpolation_filter)},
        {"gain_prediction_coefficients", flat(gain_prediction_coefficients)},
        {"gain_codebook_1", flat(gain_codebook_1)},
        {"gain_codebook_2", flat(gain_codebook_2)},
        {"gain_map_1", flat(gain_map_1)},
        {"gain_map_2", flat(gain_map_2)},
        {"gain_preselection_coefficients", flat(gain_preselection_coefficients)},
        {"gain_preselection_thresholds_1", flat(gain_preselection_thresholds_1)},
        {"gain_preselection_thresholds_2", flat(gain_preselection_thresholds_2)},
        {"gain_decode_map_1", flat(gain_decode_map_1)},
        {"gain_decode_map_2", flat(gain_decode_map_2)},
        {"vad_low_band_correlation", flat(vad_low_band_correlation)},
        {"sid_gain_energy_factors", flat(sid_gain_energy_factors)},
        {"sid_gain_table", flat(sid_gain_table)},
        {"sid_stage1_map", flat(sid_stage1_map)},
        {"sid_stage2_map", flat(sid_stage2_map)},
        {"noise_ma_sum", flat(noise_ma_sum)},
        {"noise_ma_sum_inv", flat(noise_ma_sum_inv)},
        {"sid_stage1_scale", flat(sid_stage1_scale)},
    };
    return tables;
}

}  // namespace

TEST(StandardTables, EveryEntryIsThePublishedValue) {
    const std::filesystem::path file =
        std::filesystem::path(G729_SHARED_DIR) / "tables" / "g729_tables.txt";
    std::ifstream in(file);
    if (!in) GTEST_SKIP() << "no " << file;

    std::map<std::string, bool> seen;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("table ", 0) != 0) continue;
        std::istringstream head(line);
        std::string word, name, precision;
        std::size_t rows = 0, cols = 0;
        head >> word >> name >> rows >> cols >> precision;
        SCOPED_TRACE(name);
        const auto it = codec_tables().find(name);
        ASSERT_NE(it, codec_tables().end()) << "the codec has no table " << name;
        const CodecTable& t = it->second;
        ASSERT_EQ(t.size, rows * cols);
        ASSERT_EQ(t.ints != nullptr, precision == "int");
        seen[name] = true;
        std::size_t k = 0;
        for (std::size_t r = 0; r < rows; ++r) {
            ASSERT_TRUE(std::getline(in, line)) << "the file ends inside " << name;
            std::istringstream values(line);
            std::string v;
            for (std::size_t c = 0; c < cols; ++c, ++k) {
                ASSERT_TRUE(values >> v) << "row " << r << " is short";
                if (precision == "int") {
                    EXPECT_EQ(t.ints[k], std::strtol(v.c_str(), nullptr, 10)) << "entry " << k;
                    continue;
                }
                double expect = std::strtod(v.c_str(), nullptr);
                if (precision == "single") {
                    expect = static_cast<double>(std::strtof(v.c_str(), nullptr));
                }
                EXPECT_EQ(std::memcmp(&t.doubles[k], &expect, sizeof expect), 0)
                    << "entry " << k << ": " << t.doubles[k] << " against " << v;
            }
        }
    }
    EXPECT_EQ(seen.size(), codec_tables().size()) << "tables the file does not hold";
}
