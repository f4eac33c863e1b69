// lcrtool: shows what an lcr image holds, builds one from text, compares
// two, finds the rule a dialled number meets, and checks that an image is
// whole and sound.
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "messages.h"

namespace {

const char USAGE[] =
    "usage: lcrtool dump IMAGE\n"
    "       lcrtool build TEXT IMAGE\n"
    "       lcrtool diff IMAGE_A IMAGE_B\n"
    "       lcrtool lookup IMAGE NUMBER...\n"
    "       lcrtool check IMAGE...\n"
    "A file named - is standard input, and the IMAGE that build writes standard output.\n";

// The commands, so that a wrong command is told apart from a known one
// given the wrong number of arguments.
bool is_command(const char *name)
{
    static const char *const commands[] = {"dump", "build", "diff", "lookup", "check", "-h", "--help", "-V", "--version"};
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
    if (argc >= 4 && strcmp(command, "lookup") == 0)
        return lcrtool_lookup(argv[2], argv + 3, argc - 3);
    if (argc >= 3 && strcmp(command, "check") == 0)
        return lcrtool_check(argv + 2, argc - 2);
    if (argc > 1 && !is_command(command))
        report_plain("unknown command '%s'", command);
    fputs(USAGE, stderr);
    return EXIT_TROUBLE;
}
