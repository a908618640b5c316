// SPDX-License-Identifier: BSD-2-Clause
#include "tools/g729/command.h"

#include <cstdio>

#include "lib/io/file_io.h"

namespace g729tool {

void report(const std::string& line) { std::fprintf(stderr, "g729: %s\n", line.c_str()); }

void warn(const std::string& line) { report("warning: " + line); }

bool output_name_refused(void (*check)(const std::string&), const std::string& output) {
    try {
        check(output);
    } catch (const g729io::IoError& e) {
        report(e.what());
        return true;
    }
    return false;
}

g729io::CodedFormat coded_format(const Options& o, const std::string& coded_path) {
    if (o.format == "itu") return g729io::CodedFormat::itu;
    if (o.format == "raw") return g729io::CodedFormat::raw;
    return g729io::coded_format_for_name(coded_path);
}

}  // namespace g729tool
