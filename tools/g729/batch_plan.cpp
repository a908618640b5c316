// SPDX-License-Identifier: BSD-2-Clause
#include "tools/g729/batch_plan.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <utility>

#include "lib/io/file_io.h"

namespace g729tool {

namespace fs = std::filesystem;

namespace {

using FileId = std::pair<dev_t, ino_t>;

bool file_id(const std::string& path, FileId& id) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    id = {st.st_dev, st.st_ino};
    return true;
}

}  // namespace

std::string batch_output_name(const std::string& input, const std::string& dir,
                              const std::string& ext) {
    const fs::path name = fs::path(input).filename();
    if (name.empty() || name == "." || name == "..") return "";
    return (fs::path(dir) / name.stem()).concat(ext).string();
}

BatchPlan plan_batch(const std::vector<std::string>& inputs, const std::string& dir,
                     const std::string& ext) {
    std::map<FileId, std::string> input_files;
    for (const std::string& in : inputs) {
        FileId id;
        if (file_id(in, id)) input_files.emplace(id, in);
    }
    BatchPlan plan;
    std::map<std::string, std::string> owner;  // output name -> the input coded to it
    for (const std::string& in : inputs) {
        const std::string out = batch_output_name(in, dir, ext);
        if (out.empty()) {
            plan.refused.push_back(in + ": names no file; not coded");
            continue;
        }
        const auto taken = owner.find(out);
        FileId again;
        FileId first;
        if (taken != owner.end() &&
            (in == taken->second ||
             (file_id(in, again) && file_id(taken->second, first) && again == first))) {
            plan.repeated.push_back(in + ": given more than once" +
                                    (in == taken->second ? "" : " (also as " + taken->second + ")") +
                                    "; coded once, to " + out);
            continue;
        }
        if (taken != owner.end()) {
            plan.refused.push_back(in + ": not coded: its output " + out + " is already that of " +
                                   taken->second +
                                   " (same base name); code it in another run "
                                   "or under another name");
            continue;
        }
        FileId id;
        if (file_id(out, id)) {
            const auto same = input_files.find(id);
            if (same != input_files.end()) {
                plan.refused.push_back(in + ": not coded: its output " + out +
                                       " is the same file as the input " + same->second +
                                       " (writing it would destroy that input)");
                continue;
            }
        }
        owner.emplace(out, in);
        plan.jobs.push_back({in, out});
    }
    return plan;
}

void prepare_output_dir(const std::string& dir) {
    std::error_code ec;
    if (fs::is_directory(dir, ec)) return;
    if (fs::exists(dir, ec)) throw g729io::IoError(dir + ": is not a folder (--output-dir)");
    fs::create_directories(dir, ec);
    if (ec) throw g729io::IoError(dir + ": cannot create the output folder: " + ec.message());
}

}  // namespace g729tool
