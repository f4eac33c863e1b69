// SPDX-License-Identifier: MIT
// Shared pieces of the lcrtool tests: running the built program and writing
// the text that dump prints from a readable description.
#pragma once

#include <dirent.h>

#include <map>
#include <string>
#include <vector>

#include "run_program.h"

inline run_result run_lcrtool(const std::vector<std::string> &args, const std::string &cwd = "",
                              const std::optional<std::string> &input = std::nullopt,
                              const std::vector<std::string> &env = {})
{
    run_options opts;
    opts.cwd = cwd;
    opts.input = input;
    opts.env = env;
    return run_program(LCRTOOL_PATH, args, opts);
}

// The ten provider lines (names given by provider number, the rest empty)
// and the header of the rules, as dump prints them.
inline std::string dump_head(const std::map<int, std::string> &names = {})
{
    std::string text;
    for (int p = 0; p < 10; p++) {
        auto it = names.find(p);
        text += "provider\t" + std::to_string(p) + "\t" + (it == names.end() ? "" : it->second) + "\n";
    }
    return text + "number\troute\tprovider\tarea\n";
}

// Files below `dir`, in name order.
inline void list_files(const std::string &dir, std::vector<std::string> *files)
{
    for (const auto &name : dir_entries(dir)) {
        std::string path = dir + "/" + name;
        if (DIR *sub = opendir(path.c_str())) {
            closedir(sub);
            list_files(path, files);
        } else {
            files->push_back(path);
        }
    }
}
