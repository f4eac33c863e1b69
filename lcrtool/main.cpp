// SPDX-License-Identifier: MIT
// lcrtool: shows what an lcr image holds, builds one from text, compares
// two, finds the rule a dialled number meets, draws the timetables, checks
// that an image is whole and sound, and tells what lcrmerge does with two
// images.
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "messages.h"

namespace {

const char USAGE[] =
    "usage: lcrtool dump IMAGE\n"
    "       lcrtool build TEXT IMAGE\n"
    "       lcrtool diff IMAGE_A IMAGE_B\n"
    "       lcrtool lookup [--at HH:MM] IMAGE NUMBER...\n"
    "       lcrtool timetables [--all] IMAGE\n"
    "       lcrtool check IMAGE...\n"
    "       lcrtool merge MODE CURRENT DEFAULTS [OUTPUT]\n"
    "A file named - is standard input, and the IMAGE that build writes standard output.\n";

// The commands, so that a wrong command is told apart from a known one
// given the wrong number of arguments.
bool is_command(const char *name)
{
    static const char *const commands[] = {"dump", "build", "diff", "lookup", "timetables", "check", "merge", "-h", "--help", "-V", "--version"};
    for (const char *c : commands)
        if (strcmp(name, c) == 0)
            return true;
    return false;
}

}  // namespace

int main(int argc, char **argv)
{
    const char *command = argc > 1 ? argv[1] : "";
    if (argc == 2 && (strcmp(command, "-h") == 0 || strcmp(command, "--help") == 0)) {
        fputs(USAGE, stdout);
        return finish_output();
    }
    // The package's version, from project() in CMakeLists.txt.
    if (argc == 2 && (strcmp(command, "-V") == 0 || strcmp(command, "--version") == 0)) {
        fputs("lcrtool " DEVTOOLS_VERSION "\n", stdout);
        return finish_output();
    }
    if (argc == 3 && strcmp(command, "dump") == 0)
        return lcrtool_dump(argv[2]);
    if (argc == 4 && strcmp(command, "build") == 0)
        return lcrtool_build(argv[2], argv[3]);
    if (argc == 4 && strcmp(command, "diff") == 0)
        return lcrtool_diff(argv[2], argv[3]);
    // Options come before the image, so an image file named --at or --all
    // is given as ./--at or ./--all.
    const char *option = argc > 2 ? argv[2] : "";
    bool at = strcmp(option, "--at") == 0;
    bool all = strcmp(option, "--all") == 0;
    if (argc >= 4 && strcmp(command, "lookup") == 0 && !at)
        return lcrtool_lookup(argv[2], argv + 3, argc - 3, nullptr);
    if (argc >= 6 && strcmp(command, "lookup") == 0 && at)
        return lcrtool_lookup(argv[4], argv + 5, argc - 5, argv[3]);
    if (argc == (all ? 4 : 3) && strcmp(command, "timetables") == 0)
        return lcrtool_timetables(argv[all ? 3 : 2], all);
    if (argc >= 3 && strcmp(command, "check") == 0)
        return lcrtool_check(argv + 2, argc - 2);
    if ((argc == 5 || argc == 6) && strcmp(command, "merge") == 0)
        return lcrtool_merge(argv[2], argv[3], argv[4], argc == 6 ? argv[5] : nullptr);
    if (argc > 1 && !is_command(command))
        report_plain("unknown command '%s'", command);
    fputs(USAGE, stderr);
    return EXIT_TROUBLE;
}
