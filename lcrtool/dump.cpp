// SPDX-License-Identifier: MIT
#include <cstdio>

#include "commands.h"
#include "loaded_image.h"
#include "messages.h"
#include "rule_list.h"
#include "text_format.h"

int lcrtool_dump(const char *image)
{
    loaded_image img;
    if (load_image(image, &img) != 0)
        return EXIT_TROUBLE;
    const rule_list &list = img.list;
    for (int p = 0; p < LCR_PROVIDER_COUNT; p++)
        print_provider_line(stdout, p, list.names[p]);
    puts(RULE_HEADER);
    for (size_t i = 0; i < list.count; i++)
        print_rule_line(stdout, &list.rules[i]);
    print_fixed_part_lines(stdout, &img);
    loaded_image_free(&img);
    return finish_output();
}
