// SPDX-License-Identifier: MIT
// lcrmerge mode current_lcr current_default_lcr modified_lcr
//
// Loads both images, merges the first against the second by the chosen
// mode, compiles the result and writes it to modified_lcr. Exit status 0 on
// success, 1 on every failure.
#include <cstdio>
#include <cstdlib>

#include "compiler.h"
#include "loader.h"
#include "merge.h"
#include "output.h"
#include "tree.h"

namespace {

// Written with puts, one line each. The text is ISO-8859-1: 0xF6 is the
// o-umlaut, kept in a literal of its own so that the hex escape ends there.
constexpr const char *USAGE[] = {
    "4 parameters: mode current_lcr current_default_lcr modified_lcr needed!",
    "mode '1': alles im ersten Set l" "\xF6" "schen, was nicht im zweiten ist",
    "mode '2': alles im ersten Set l" "\xF6" "schen was auch im zweiten ist",
};

}  // namespace

LCR_EXPORT int main(int argc, char **argv)
{
    if (argc < 5) {
        for (const char *line : USAGE)
            puts(line);
        return 1;
    }
    // The whole long value is compared, so a number past 32 bits cannot
    // wrap onto a valid mode on any host.
    long mode = strtol(argv[1], nullptr, 10);
    build_lcr_skeleton(&current_tree);
    build_lcr_skeleton(&default_tree);
    // The second image is not opened when the first fails, and the mode is
    // judged only after both loaded.
    if (load_lcr_image(argv[2], &current_tree) != 0 || load_lcr_image(argv[3], &default_tree) != 0)
        return 1;
    int merged;
    if (mode == 1)
        merged = clear_routes(current_tree, default_tree);
    else if (mode == 2)
        merged = clear_routes2(current_tree, default_tree);
    else
        return 1;
    // After two loads a merge fails only when mode 2 ran out of memory for
    // an emergency rule; that rule set must not replace the output.
    if (merged != 0)
        return 1;
    // A rule set that fails validation leaves an empty image; writing it
    // would only destroy what the output held. An image without a rule the
    // compiler had to drop (in mode 2, an emergency number that found no
    // trie record) is not the merged rule set either, so it is not written.
    uint32_t dropped = 0;
    if (compile_lcr(&dropped) != 0 || dropped != 0)
        return 1;
    // Both inputs are read and closed by now, so the output may name one.
    return write_lcr_output(argv[4], lcr_out_buf, lcr_out_len) == 0 ? 0 : 1;
}
