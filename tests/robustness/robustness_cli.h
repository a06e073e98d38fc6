#pragma once

#include <set>
#include <string>

// Running quarnel-cli from the robustness tests, and looking at what it left behind.

struct cli_run_s {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs `quarnel-cli ARGUMENTS` (arguments already quoted) with no input.
cli_run_s run_cli(const std::string& arguments);

// Every entry below `dir` (files, folders, links), as paths relative to it.
std::set<std::string> entries_under(const std::string& dir);
