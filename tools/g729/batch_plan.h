// SPDX-License-Identifier: BSD-2-Clause
// The files of one batch run (g729 encode|decode --output-dir DIR FILE...): each input's output
// name in DIR, and the inputs that must not be coded because their output would destroy
// a file or another output.
#pragma once

#include <string>
#include <vector>

namespace g729tool {

struct BatchJob {
    std::string input;
    std::string output;
};

struct BatchPlan {
    std::vector<BatchJob> jobs;        // in the order given
    std::vector<std::string> refused;  // one-line messages, one per input not coded
    std::vector<std::string> repeated;  // warnings, one per input given again (coded once)
};

// DIR/NAME.EXT for the input's base name NAME (its last extension dropped); ext includes the
// dot. Empty when the input names no file (e.g. a path ending in '/').
std::string batch_output_name(const std::string& input, const std::string& dir,
                              const std::string& ext);

// Plans the outputs: a file given again (under the same name or another spelling of its
// path) is coded once, with a warning; an input whose output name is already that of another
// earlier input (two files with the same base name) is refused, as is an output that is one
// of the inputs under any name (so that no input is replaced before it is read).
BatchPlan plan_batch(const std::vector<std::string>& inputs, const std::string& dir,
                     const std::string& ext);

// Makes DIR (and its parents) when missing. Throws g729io::IoError when it cannot, or when
// DIR exists and is not a folder.
void prepare_output_dir(const std::string& dir);

}  // namespace g729tool
