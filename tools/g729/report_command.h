// SPDX-License-Identifier: BSD-2-Clause
// The call report of a capture:
//   g729 report CAPTURE OUTPUT.html [--pt N]
//
// One self-contained HTML page (lib/report/html_report.h): per call, each direction's
// figures, quality estimate and timeline, a player per direction and for the stereo mix. The
// streams are decoded to scratch files (tools/g729/stereo_decode.h); the page is written
// through SafeOutput, the audio streamed into it as base64.
#pragma once

#include <string>

namespace g729tool {

struct ReportOptions {
    std::string input;
    std::string output;
    int payload_type = 18;
};

// Returns the exit status; input/output failures escape as exceptions (exit_failure).
int run_report(const ReportOptions& options);

}  // namespace g729tool
