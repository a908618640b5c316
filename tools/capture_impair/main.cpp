// g729_capture_impair: copies a packet capture as a poor network would have delivered it:
// packets dropped, delayed behind later ones, or duplicated, at random but repeatably (the
// seed). For trying the capture decoder on realistic damage.
//
//   g729_capture_impair INPUT OUTPUT.pcap [--drop PCT] [--reorder PCT] [--distance N]
//                       [--duplicate PCT] [--seed N]

#include <CLI/CLI.hpp>
#include <pcap/pcap.h>

#include <cstdio>
#include <deque>
#include <exception>
#include <random>
#include <string>
#include <vector>

#include "tools/rtp/capture_reader.h"

namespace {

struct Held {
    int64_t due;  // written after this many more packets have been written
    std::vector<uint8_t> bytes;
};

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Copy a capture with packets dropped, reordered and duplicated at random", "g729_capture_impair"};
    std::string input, output;
    double drop = 0, reorder = 0, duplicate = 0;
    int distance = 3;
    unsigned seed = 1;
    app.add_option("INPUT", input, "Capture to read (pcap or pcapng)")->required();
    app.add_option("OUTPUT", output, "Classic pcap file to write")->required();
    app.add_option("--drop", drop, "Percent of packets dropped")->check(CLI::Range(0.0, 100.0));
    app.add_option("--reorder", reorder, "Percent of packets delayed behind later ones")
        ->check(CLI::Range(0.0, 100.0));
    app.add_option("--distance", distance, "Packets a delayed packet falls behind (default 3)")
        ->check(CLI::Range(1, 1000));
    app.add_option("--duplicate", duplicate, "Percent of packets sent twice")->check(CLI::Range(0.0, 100.0));
    app.add_option("--seed", seed, "Random seed (default 1)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);
        std::fprintf(stderr, "g729_capture_impair: %s\n", e.what());
        return 2;
    }

    try {
        g729rtp::CaptureReader reader(input);
        pcap_t* dead = pcap_open_dead(reader.link_type(), 262144);
        pcap_dumper_t* dump = pcap_dump_open(dead, output.c_str());
        if (dump == nullptr) throw g729rtp::CaptureError(output + ": " + pcap_geterr(dead));
        std::mt19937 random(seed);
        std::uniform_real_distribution<double> percent(0.0, 100.0);
        std::deque<Held> held;
        uint64_t read = 0, dropped = 0, delayed = 0, doubled = 0, written = 0;
        pcap_pkthdr last{};
        auto write = [&](const std::vector<uint8_t>& bytes, const pcap_pkthdr& when) {
            pcap_pkthdr h = when;
            h.caplen = h.len = static_cast<bpf_u_int32>(bytes.size());
            pcap_dump(reinterpret_cast<u_char*>(dump), &h, bytes.data());
            ++written;
            // Delayed packets arrive after the packets they fell behind, at their time.
            for (auto it = held.begin(); it != held.end();) {
                if (--it->due <= 0) {
                    const std::vector<uint8_t> late = std::move(it->bytes);
                    it = held.erase(it);
                    h.caplen = h.len = static_cast<bpf_u_int32>(late.size());
                    pcap_dump(reinterpret_cast<u_char*>(dump), &h, late.data());
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
        for (const Held& h : held) {
            pcap_pkthdr when = last;
            when.caplen = when.len = static_cast<bpf_u_int32>(h.bytes.size());
            pcap_dump(reinterpret_cast<u_char*>(dump), &when, h.bytes.data());
            ++written;
        }
        const bool failed = pcap_dump_flush(dump) != 0;
        pcap_dump_close(dump);
        pcap_close(dead);
        if (failed) throw g729rtp::CaptureError(output + ": write error");
        if (!reader.truncation().empty()) std::fprintf(stderr, "g729_capture_impair: %s\n", reader.truncation().c_str());
        std::fprintf(stderr,
                     "g729_capture_impair: %llu packets read, %llu dropped, %llu delayed by %d, "
                     "%llu duplicated, %llu written\n",
                     static_cast<unsigned long long>(read), static_cast<unsigned long long>(dropped),
                     static_cast<unsigned long long>(delayed), distance,
                     static_cast<unsigned long long>(doubled), static_cast<unsigned long long>(written));
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "g729_capture_impair: %s\n", e.what());
        return 1;
    }
}
