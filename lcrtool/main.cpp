// lcrtool: shows what an lcr image holds, builds one from text, compares
// two, and finds the rule a dialled number meets.
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "messages.h"

static const char USAGE[] =
    "usage: lcrtool dump IMAGE\n"
    "       lcrtool build TEXT IMAGE\n"
    "       lcrtool diff IMAGE_A IMAGE_B\n"
    "       lcrtool lookup IMAGE NUMBER...\n";

int main(int argc, char **argv)
{
    const char *command = argc > 1 ? argv[1] : "";
    if (argc == 2 && (strcmp(command, "-h") == 0 || strcmp(command, "--help") == 0)) {
        fputs(USAGE, stdout);
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
    fputs(USAGE, stderr);
    return EXIT_TROUBLE;
}
