// SPDX-License-Identifier: MIT
// lcrtool's text reader and build on any text, and dump on what build
// writes.
//
// The input is the text, written to a file. The reader reads it as build
// does, and build then runs on the file:
//   - build writes an image only when the reader took every line, and
//     when it refuses it writes none;
//   - an image it writes loads, with the text's rules in order of number
//     (route -1 read as -2, as the format keeps it), each with its area
//     byte, the text's provider names, and the slots of each timetable the
//     text gives;
//   - dump of that image builds again into the very same bytes.
#include <cstring>
#include <string>

#include "commands.h"
#include "loaded_image.h"
#include "messages.h"
#include "scratch_files.h"
#include "text_format.h"
#include "tree_check.h"

namespace {

bool same_rule(const tool_rule &read, const tool_rule &loaded)
{
    int32_t route = read.route == ROUTE_UNSET ? ROUTE_BY_PROVIDER : read.route;
    return strcmp(read.number, loaded.number) == 0 && route == loaded.route && read.provider == loaded.provider &&
           read.area == loaded.area;
}

// The image at `path` against the text read into `list` and `extras`.
void check_built(const char *path, const rule_list *list, const text_extras *extras)
{
    loaded_image img;
    require(load_image(path, &img) == 0, "a built image does not load");
    require(img.list.count == list->count, "a built image holds another number of rules");
    for (size_t i = 0; i < list->count; i++)
        require(same_rule(list->rules[i], img.list.rules[i]), "a built image holds another rule");
    for (uint32_t p = 0; p < LCR_PROVIDER_COUNT; p++)
        require(strcmp(list->names[p], img.list.names[p]) == 0, "a built image holds another provider name");
    for (uint32_t k = 0; k < LCR_TIMETABLES; k++)
        require(!extras->timetable_line[k] ||
                    memcmp(img.bytes + lcr_timetable_offset(k), extras->timetable[k], LCR_TIME_SLOTS) == 0,
                "a built image holds another timetable");
    loaded_image_free(&img);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    stdout_to(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *text = scratch_write("text", data, size);
    rule_list list;
    static text_extras extras;
    const int read = read_rule_text(text, &list, &extras);
    require(read != EXIT_TROUBLE, "the reader is in trouble with a readable file");
    sort_rules(&list);

    scratch_remove("image");
    const int built = lcrtool_build(text, scratch_path("image"));
    require(built == EXIT_OK || built == EXIT_REJECTED, "build is in trouble with a readable file");
    require(built != EXIT_OK || read == EXIT_OK, "build wrote an image of a text the reader refused");
    std::string image;
    require(scratch_read("image", &image) == (built == EXIT_OK), "build wrote an image and refused, or the reverse");
    if (built == EXIT_OK) {
        check_built(scratch_path("image"), &list, &extras);
        stdout_to("dump");
        require(lcrtool_dump(scratch_path("image")) == EXIT_OK, "dump of a built image failed");
        stdout_to(nullptr);
        scratch_remove("again");
        require(lcrtool_build(scratch_path("dump"), scratch_path("again")) == EXIT_OK,
                "the dump of a built image does not build");
        std::string again;
        require(scratch_read("again", &again) && again == image, "the dump of a built image builds other bytes");
    }
    rule_list_free(&list);
    return 0;
}
