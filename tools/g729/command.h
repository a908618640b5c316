// SPDX-License-Identifier: BSD-2-Clause
// The g729 tool's commands: their options, exit statuses and messages.
#pragma once

#include <string>

#include "lib/io/coded_stream.h"

namespace g729tool {

inline constexpr int exit_ok = 0;
inline constexpr int exit_failure = 1;  // an input/output or data error
inline constexpr int exit_usage = 2;

struct Options {
    std::string format;  // "", "itu" or "raw"
    bool dtx = false;
    std::string input;
    std::string output;
};

// Writes "g729: LINE" to stderr.
void report(const std::string& line);
void warn(const std::string& line);

// Runs a check of the output's name (one that throws IoError); on refusal reports the reason
// and returns true, so that the command exits with a usage error before opening anything.
bool output_name_refused(void (*check)(const std::string&), const std::string& output);

// The coded format: --format when given, else from the coded file's name.
g729io::CodedFormat coded_format(const Options& o, const std::string& coded_path);

// Each returns the exit status; input/output failures escape as exceptions (exit_failure).
int run_encode(const Options& o);
int run_decode(const Options& o);

}  // namespace g729tool
