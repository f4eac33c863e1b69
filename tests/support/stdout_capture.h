// SPDX-License-Identifier: MIT
// Collects what the code under test prints on standard output, by pointing
// descriptor 1 at a temporary file for the capture's lifetime.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

class stdout_capture {
public:
    stdout_capture()
    {
        fflush(stdout);
        file_ = tmpfile();
        saved_ = dup(1);
        dup2(fileno(file_), 1);
    }
    ~stdout_capture() { text(); }
    stdout_capture(const stdout_capture &) = delete;
    stdout_capture &operator=(const stdout_capture &) = delete;

    // Ends the capture and returns what was printed.
    std::string text()
    {
        if (file_) {
            fflush(stdout);
            dup2(saved_, 1);
            close(saved_);
            rewind(file_);
            char buf[4096];
            for (size_t n; (n = fread(buf, 1, sizeof buf, file_)) > 0;)
                captured_.append(buf, n);
            fclose(file_);
            file_ = nullptr;
        }
        return captured_;
    }

private:
    FILE *file_;
    int saved_;
    std::string captured_;
};
