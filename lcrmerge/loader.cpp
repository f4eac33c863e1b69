#include "loader.h"

int32_t kelmar_lcr_version = 0;

int load_lcr_image(const char *, lcr_node **)
{
    return -1;  // not built yet
}
