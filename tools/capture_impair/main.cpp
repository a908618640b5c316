// SPDX-License-Identifier: BSD-2-Clause
// g729_capture_impair: copies a packet capture as a poor network would have delivered it:
// packets dropped, delayed behind later ones, or duplicated, and their capture times made
// later by a random network jitter, at random but repeatably (the seed). For trying the
// capture decoder and the stream statistics on realistic damage.
//
//   g729_capture_impair INPUT OUTPUT.pcap [--drop PCT] [--reorder PCT] [--distance N]
//                       [--duplicate PCT] [--jitter MS] [--seed N]
//
// The output is written as the g729 tool writes its outputs: never over the input, never over
// a write-protected file, replaced only by a complete copy ("-": standard output). A damaged
// input is an error and writes nothing. Exit status: 0 success, 1 failure, 2 usage error.

#include <CLI/CLI.hpp>
#include <pcap/pcap.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <queue>
#include <random>
#include <string>
#include <vector>

#include "lib/io/file_io.h"
#include "lib/io/safe_output.h"
#include "lib/rtp/capture_reader.h"

namespace {

struct Held {
    int64_t due;  // written after this many more packets have been written
    std::vector<uint8_t> bytes;
};

// A classic pcap file written by libpcap into a SafeOutput, every write checked.
class PacketDump {
public:
    PacketDump(g729io::SafeOutput& out, int link_type) : name_(g729io::display_name(out.path(), true)) {
        dead_ = pcap_open_dead(link_type, 262144);
        if (dead_ == nullptr) throw g729io::IoError("libpcap cannot start a capture file");
        // libpcap closes the stream it writes to: it gets its own, on a duplicate descriptor.
        const int fd = ::dup(fileno(out.file()));
        std::FILE* own = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
        if (own == nullptr) {
            const int err = errno;
            if (fd >= 0) ::close(fd);
            pcap_close(dead_);
            throw g729io::IoError(name_ + ": cannot write: " + std::strerror(err));
        }
        dump_ = pcap_dump_fopen(dead_, own);
        if (dump_ == nullptr) {
            const std::string why = pcap_geterr(dead_);
            std::fclose(own);
            pcap_close(dead_);
            throw g729io::IoError(name_ + ": cannot write: " + why);
        }
        check();  // the file header
    }
    ~PacketDump() {
        pcap_dump_close(dump_);
        pcap_close(dead_);
    }
    PacketDump(const PacketDump&) = delete;
    PacketDump& operator=(const PacketDump&) = delete;

    void write(const std::vector<uint8_t>& bytes, pcap_pkthdr header) {
        header.caplen = header.len = static_cast<bpf_u_int32>(bytes.size());
        pcap_dump(reinterpret_cast<u_char*>(dump_), &header, bytes.data());
        check();
    }
    // Everything handed on; the SafeOutput's commit() then puts the file in place.
    void finish() {
        errno = 0;
        if (pcap_dump_flush(dump_) != 0) fail();
        check();
    }

private:
    void check() {
        if (std::ferror(pcap_dump_file(dump_))) fail();
    }
    [[noreturn]] void fail() {
        const int err = errno;
        if (name_ == "stdout") throw g729io::IoError(g729io::standard_output_write_error(err));
        throw g729io::IoError(name_ + ": write error" + (err != 0 ? std::string(": ") + std::strerror(err) : ""));
    }

    std::string name_;
    pcap_t* dead_ = nullptr;
    pcap_dumper_t* dump_ = nullptr;
};

// Network jitter: every packet arrives up to `max_ms` later than it was captured, at random,
// and packets are written in the order of their new capture times, as a capture on the far
// side would hold them (a capture file's times only go forward): a packet delayed past the
// next one's new time falls behind it. Only the packets within the jitter of the latest
// capture time are held.
class JitterStage {
public:
    JitterStage(PacketDump& dump, double max_ms, std::mt19937& random)
        : dump_(dump), max_us_(max_ms * 1000.0), random_(random) {}

    void add(const std::vector<uint8_t>& bytes, const pcap_pkthdr& header) {
        const int64_t at = microseconds(header);
        latest_us_ = std::max(latest_us_, at);
        if (max_us_ <= 0) {
            dump_.write(bytes, header);
            return;
        }
        std::uniform_real_distribution<double> delay(0.0, max_us_);
        const int64_t later = at + static_cast<int64_t>(std::llround(delay(random_)));
        held_.push({later, order_++, bytes, header});
        // Nothing still to come arrives before the latest capture time read.
        while (!held_.empty() && held_.top().at_us <= latest_us_) release();
    }
    void finish() {
        while (!held_.empty()) release();
    }
    uint64_t overtaken() const { return overtaken_; }

private:
    struct Packet {
        int64_t at_us;
        uint64_t order;  // in which the packets came: ties keep it
        std::vector<uint8_t> bytes;
        pcap_pkthdr header;
        bool operator>(const Packet& o) const { return at_us != o.at_us ? at_us > o.at_us : order > o.order; }
    };
    static int64_t microseconds(const pcap_pkthdr& h) {
        return static_cast<int64_t>(h.ts.tv_sec) * 1000000 + static_cast<int64_t>(h.ts.tv_usec);
    }
    void release() {
        const Packet& p = held_.top();
        pcap_pkthdr header = p.header;
        header.ts.tv_sec = static_cast<time_t>(p.at_us / 1000000);
        header.ts.tv_usec = static_cast<suseconds_t>(p.at_us % 1000000);
        if (released_any_ && p.order < max_order_) ++overtaken_;
        max_order_ = released_any_ ? std::max(max_order_, p.order) : p.order;
        released_any_ = true;
        dump_.write(p.bytes, header);
        held_.pop();
    }

    PacketDump& dump_;
    double max_us_;
    std::mt19937& random_;
    std::priority_queue<Packet, std::vector<Packet>, std::greater<Packet>> held_;
    uint64_t order_ = 0;
    int64_t latest_us_ = INT64_MIN;
    bool released_any_ = false;
    uint64_t max_order_ = 0;
    uint64_t overtaken_ = 0;  // written after a packet that came later
};

std::string ms_text(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", ms);
    return text;
}

void report(const std::string& line) { std::fprintf(stderr, "g729_capture_impair: %s\n", line.c_str()); }

}  // namespace

int main(int argc, char** argv) {
    g729io::protect_standard_streams();
    CLI::App app{"Copy a capture with packets dropped, reordered and duplicated at random", "g729_capture_impair"};
    std::string input, output;
    double drop = 0, reorder = 0, duplicate = 0, jitter = 0;
    int distance = 3;
    unsigned seed = 1;
    app.add_option("INPUT", input, "Capture to read (pcap or pcapng)")->required();
    app.add_option("OUTPUT", output, "Classic pcap file to write (- for stdout); an existing "
                                     "file is replaced only by a complete copy")->required();
    app.add_option("--drop", drop, "Percent of packets dropped")->check(CLI::Range(0.0, 100.0));
    app.add_option("--reorder", reorder, "Percent of packets delayed behind later ones")
        ->check(CLI::Range(0.0, 100.0));
    app.add_option("--distance", distance, "Packets a delayed packet falls behind (default 3)")
        ->check(CLI::Range(1, 1000));
    app.add_option("--duplicate", duplicate, "Percent of packets sent twice")->check(CLI::Range(0.0, 100.0));
    app.add_option("--jitter", jitter, "Network jitter: every packet's capture time made up to MS "
                                       "ms later at random (uniformly); packets are written in "
                                       "the order of their new times, so some fall behind later ones")
        ->type_name("MS")
        ->check(CLI::Range(0.0, 60000.0));
    app.add_option("--seed", seed, "Random seed (default 1)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {
            app.exit(e);
            const std::string error = g729io::standard_output_error();
            if (error.empty()) return 0;
            report(error);
            return 1;
        }
        report(e.what());
        return 2;
    }

    try {
        g729io::refuse_same_file(input, output);
        g729rtp::CaptureReader reader(input);
        g729io::SafeOutput out(output);
        PacketDump dump(out, reader.link_type());
        std::mt19937 random(seed);
        std::uniform_real_distribution<double> percent(0.0, 100.0);
        JitterStage jittered(dump, jitter, random);
        std::deque<Held> held;
        uint64_t read = 0, dropped = 0, delayed = 0, doubled = 0, written = 0;
        pcap_pkthdr last{};
        auto write = [&](const std::vector<uint8_t>& bytes, const pcap_pkthdr& when) {
            jittered.add(bytes, when);
            ++written;
            // Delayed packets arrive after the packets they fell behind, at their time.
            for (auto it = held.begin(); it != held.end();) {
                if (--it->due <= 0) {
                    const std::vector<uint8_t> late = std::move(it->bytes);
                    it = held.erase(it);
                    jittered.add(late, when);
                    ++written;
                } else {
                    ++it;
                }
            }
        };
        g729rtp::CapturedPacket p;
        while (reader.next(p)) {
            ++read;
            last.ts.tv_sec = static_cast<time_t>(p.seconds);
            last.ts.tv_usec = static_cast<suseconds_t>(p.microseconds);
            const std::vector<uint8_t> bytes(p.bytes.begin(), p.bytes.end());
            if (percent(random) < drop) {
                ++dropped;
                continue;
            }
            if (percent(random) < reorder) {
                ++delayed;
                held.push_back({distance, bytes});
                continue;
            }
            write(bytes, last);
            if (percent(random) < duplicate) {
                ++doubled;
                write(bytes, last);
            }
        }
        // A copy of part of a capture would pass for the whole: nothing is written.
        if (!reader.truncation().empty()) {
            report(reader.truncation() + (g729io::is_std_stream(output)
                                              ? "; the copy on stdout is incomplete"
                                              : "; nothing written, " + output + " left as it was"));
            return 1;
        }
        for (const Held& h : held) {
            jittered.add(h.bytes, last);
            ++written;
        }
        jittered.finish();
        dump.finish();
        out.commit();
        report(std::to_string(read) + " packets read, " + std::to_string(dropped) + " dropped, " +
               std::to_string(delayed) + " delayed by " + std::to_string(distance) + ", " +
               std::to_string(doubled) + " duplicated, " + std::to_string(written) + " written" +
               (jitter > 0 ? "; capture times up to " + ms_text(jitter) + " ms later at random, " +
                                 std::to_string(jittered.overtaken()) + " packets now behind a later one"
                           : ""));
        return 0;
    } catch (const std::exception& e) {
        report(e.what());
        return 1;
    }
}
