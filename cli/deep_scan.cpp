#include <cstdio>

#include "cli/scan_options.h"

int run_deep_scan(const scan_options_s&) {
    std::fprintf(stderr, "quarnel-cli: the deep scan is not available yet\n");
    return 1;
}
