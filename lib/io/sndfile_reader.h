// SPDX-License-Identifier: BSD-2-Clause
// Audio files through libsndfile, converted to 8000 Hz mono 16-bit: channels averaged,
// float samples scaled from full scale 1.0, other rates converted with libsoxr. 8000 Hz mono
// 16-bit PCM is read as it is, bit for bit.
#pragma once

#include <sndfile.h>

#include <memory>
#include <optional>

#include "lib/io/audio_reader.h"
#include "lib/io/resampler.h"
#include "lib/io/wav_data_length.h"

namespace g729io {

class SndfileReader final : public AudioReader {
public:
    explicit SndfileReader(const std::string& path);
    ~SndfileReader() override;

private:
    std::size_t read_some(std::span<int16_t> out) override;
    // Decodes the next block into pending_; false at the end.
    bool refill();
    void append_converted(const std::vector<float>& mono);

    // The file as libsndfile sees it: read through pread, with a WAV data length that
    // disagrees with the file replaced by the real one.
    struct VirtualFile {
        int fd = -1;
        sf_count_t length = 0;
        sf_count_t position = 0;
        sf_count_t patch_offset = -1;  // 4 bytes replaced there, and in the RIFF size field
        uint8_t patch[4] = {};
        uint8_t riff_size[4] = {};
    };
    static sf_count_t vf_length(void* user);
    static sf_count_t vf_seek(sf_count_t offset, int whence, void* user);
    static sf_count_t vf_read(void* ptr, sf_count_t count, void* user);
    static sf_count_t vf_write(const void* ptr, sf_count_t count, void* user);
    static sf_count_t vf_tell(void* user);

    VirtualFile file_;
    SNDFILE* sf_ = nullptr;
    SF_INFO info_{};
    bool passthrough_ = false;
    bool ended_ = false;
    sf_count_t block_frames_ = 0;
    std::optional<Resampler> resampler_;
    std::vector<float> block_;
    std::vector<float> mono_;
    std::vector<float> converted_;
    std::vector<int16_t> pending_;
    std::size_t pending_pos_ = 0;
    uint64_t clipped_ = 0;
};

}  // namespace g729io
