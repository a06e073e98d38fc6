#include "cli/commands.h"

#include <cstdio>

int cmd_partitions(const std::vector<std::string>&) {
    std::fprintf(stderr, "quarnel-cli: partitions is not available yet\n");
    return 1;
}
