#include "cli/commands.h"

#include <cstdio>

int cmd_scan(const std::vector<std::string>&) {
    std::fprintf(stderr, "quarnel-cli: scan is not available yet\n");
    return 1;
}
