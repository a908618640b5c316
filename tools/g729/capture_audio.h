// Audio files for the capture commands: an input read in blocks, outputs written to a
// temporary file beside the final name and renamed into place only on commit.
//
// These adapters are the one place the capture commands touch audio files and output
// safety; they sit on the tool's audio I/O library.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace g729tool {

// Throws an IoError when output names the same existing file as input.
void refuse_same_file(const std::string& input, const std::string& output);

class AudioInput {
public:
    static std::unique_ptr<AudioInput> open(const std::string& path);
    virtual ~AudioInput() = default;
    // Up to out.size() samples; 0 at the end.
    virtual std::size_t read(std::span<int16_t> out) = 0;
    // Lines for stderr: conversions made, problems read past.
    virtual std::vector<std::string> notes() const = 0;
};

class AudioOutput {
public:
    // WAV for *.wav, raw 16-bit PCM otherwise.
    static std::unique_ptr<AudioOutput> create(const std::string& path);
    virtual ~AudioOutput() = default;
    virtual void write(std::span<const int16_t> samples) = 0;
    // Completes the file and puts it in place; until then the final name is untouched, and
    // destroying the object uncommitted leaves no file behind.
    virtual void commit() = 0;
};

// A file written through a stdio stream, renamed into place on commit.
class FileOutput {
public:
    explicit FileOutput(const std::string& path);
    ~FileOutput();
    FileOutput(const FileOutput&) = delete;
    FileOutput& operator=(const FileOutput&) = delete;
    std::FILE* file();
    void commit();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace g729tool
