// Runs burnimg's work in process the way its main does: the option scan of
// "P args...", then, when the scan succeeds, the cycle through the given
// file operations, with standard output captured.
#pragma once

#include <string>
#include <vector>

#include "cycle.h"
#include "options.h"
#include "stdout_capture.h"

struct burn_result {
    int status;
    std::string out;
};

inline burn_result burn_in_process(std::vector<std::string> args, const file_ops &ops)
{
    std::vector<char *> argv{const_cast<char *>("P")};
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    burn_options o;
    stdout_capture cap;
    int status = scan_options(static_cast<int>(argv.size() - 1), argv.data(), "P", &o);
    if (status == 0)
        status = run_burn(&o, "P", ops);
    release_options(&o);
    return {status, cap.text()};
}
