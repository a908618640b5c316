#include "tools/g729/capture_audio.h"

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "tools/io/file_io.h"
#include "tools/io/pcm_io.h"

namespace g729tool {

namespace fs = std::filesystem;

void refuse_same_file(const std::string& input, const std::string& output) {
    if (input == "-" || output == "-") return;
    std::error_code ec;
    if (fs::exists(output, ec) && fs::equivalent(input, output, ec)) {
        throw g729io::IoError(output + ": OUTPUT is the same file as INPUT (" + input +
                              "); refusing to overwrite it");
    }
}

namespace {

// Whole-file reading through the tool's audio library.
class WholeFileInput : public AudioInput {
public:
    explicit WholeFileInput(const std::string& path) {
        g729io::Pcm pcm = g729io::read_audio(path);
        samples_ = std::move(pcm.samples);
        if (pcm.stray_bytes != 0) notes_.push_back(path + ": ignoring a stray final byte");
    }
    std::size_t read(std::span<int16_t> out) override {
        const std::size_t n = std::min(out.size(), samples_.size() - pos_);
        std::copy_n(samples_.begin() + static_cast<std::ptrdiff_t>(pos_), n, out.begin());
        pos_ += n;
        return n;
    }
    std::vector<std::string> notes() const override { return notes_; }

private:
    std::vector<int16_t> samples_;
    std::size_t pos_ = 0;
    std::vector<std::string> notes_;
};

std::string temporary_name(const std::string& path) {
    const fs::path p(path);
    std::string name = ".";
    name += p.filename().string();
    name += ".tmp-";
    name += std::to_string(getpid());
    return (p.parent_path() / name).string();
}

// Streams the samples into a temporary file (WAV through libsndfile, or raw PCM) renamed into
// place on commit.
class StreamingOutput : public AudioOutput {
public:
    explicit StreamingOutput(const std::string& path)
        : path_(path), temp_(temporary_name(path)), wav_(g729io::is_wav_name(path)) {
        if (wav_) {
            SF_INFO info{};
            info.samplerate = g729io::pcm_sample_rate;
            info.channels = 1;
            info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
            wav_file_ = sf_open(temp_.c_str(), SFM_WRITE, &info);
            if (wav_file_ == nullptr) {
                throw g729io::IoError(path + ": cannot create WAV file (" + sf_strerror(nullptr) + ")");
            }
        } else {
            raw_file_ = std::fopen(temp_.c_str(), "wb");
            if (raw_file_ == nullptr) {
                throw g729io::IoError(path + ": cannot create: " + std::strerror(errno));
            }
        }
    }
    ~StreamingOutput() override {
        if (committed_) return;
        if (wav_file_ != nullptr) sf_close(wav_file_);
        if (raw_file_ != nullptr) std::fclose(raw_file_);
        std::remove(temp_.c_str());
    }
    void write(std::span<const int16_t> samples) override {
        bool ok = true;
        if (wav_) {
            const auto n = static_cast<sf_count_t>(samples.size());
            ok = sf_writef_short(wav_file_, samples.data(), n) == n;
        } else {
            const std::vector<uint8_t> bytes = g729io::pcm_to_le_bytes(samples);
            ok = std::fwrite(bytes.data(), 1, bytes.size(), raw_file_) == bytes.size();
        }
        if (!ok) throw g729io::IoError(path_ + ": write error");
    }
    void commit() override {
        bool ok = true;
        if (wav_) {
            ok = sf_close(wav_file_) == 0;
            wav_file_ = nullptr;
        } else {
            ok = std::fclose(raw_file_) == 0;
            raw_file_ = nullptr;
        }
        if (!ok) throw g729io::IoError(path_ + ": write error while closing");
        if (std::rename(temp_.c_str(), path_.c_str()) != 0) {
            throw g729io::IoError(path_ + ": cannot put the output in place: " + std::strerror(errno));
        }
        committed_ = true;
    }

private:
    std::string path_;
    std::string temp_;
    bool wav_;
    SNDFILE* wav_file_ = nullptr;
    std::FILE* raw_file_ = nullptr;
    bool committed_ = false;
};

}  // namespace

std::unique_ptr<AudioInput> AudioInput::open(const std::string& path) {
    return std::make_unique<WholeFileInput>(path);
}

std::unique_ptr<AudioOutput> AudioOutput::create(const std::string& path) {
    return std::make_unique<StreamingOutput>(path);
}

struct FileOutput::Impl {
    std::string path;
    std::string temp;
    std::FILE* file = nullptr;
    bool committed = false;
};

FileOutput::FileOutput(const std::string& path) : impl_(std::make_unique<Impl>()) {
    impl_->path = path;
    if (path == "-") {
        impl_->file = stdout;
        return;
    }
    impl_->temp = temporary_name(path);
    impl_->file = std::fopen(impl_->temp.c_str(), "wb");
    if (impl_->file == nullptr) {
        throw g729io::IoError(path + ": cannot create: " + std::strerror(errno));
    }
}

FileOutput::~FileOutput() {
    if (!impl_->committed && impl_->path != "-") {
        if (impl_->file != nullptr) std::fclose(impl_->file);
        std::remove(impl_->temp.c_str());
    }
}

std::FILE* FileOutput::file() { return impl_->file; }

void FileOutput::commit() {
    if (impl_->path == "-") {
        impl_->committed = true;
        if (std::fflush(stdout) != 0) {
            throw g729io::IoError(std::string("standard output: write error: ") + std::strerror(errno));
        }
        return;
    }
    std::FILE* f = impl_->file;
    impl_->file = nullptr;
    if (std::fflush(f) != 0 || fsync(fileno(f)) != 0) {
        const std::string why = std::strerror(errno);
        std::fclose(f);
        throw g729io::IoError(impl_->path + ": write error: " + why);
    }
    if (std::fclose(f) != 0) {
        throw g729io::IoError(impl_->path + ": write error: " + std::strerror(errno));
    }
    if (std::rename(impl_->temp.c_str(), impl_->path.c_str()) != 0) {
        throw g729io::IoError(impl_->path + ": cannot put the output in place: " +
                              std::strerror(errno));
    }
    impl_->committed = true;
}

}  // namespace g729tool
