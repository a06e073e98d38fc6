#include "cli/commands.h"

#include <cstdio>

int cmd_load(const std::vector<std::string>&) {
    std::fprintf(stderr, "quarnel-cli: load is not available yet\n");
    return 1;
}
