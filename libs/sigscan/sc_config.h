#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One searched file type: one line of the configuration file.
struct sc_type_s {
    std::string extension;             // reported unless the format reader names a better one
    uint64_t max_size = 0;             // a find is cut here
    std::vector<uint8_t> header;       // the first bytes
    std::vector<uint8_t> header_mask;  // 0xF0/0x0F/0x00 where the header has wildcards
    std::vector<uint8_t> footer;       // empty: the end comes from the structure or the cap
    std::string format;                // built-in structure reader, empty for none
    bool any_offset = false;           // may start at any byte, not only at 512-byte boundaries
    bool enabled = true;
};

struct sc_config_s {
    std::vector<sc_type_s> types;
};

// Parses configuration text. Bad lines are skipped and described in `message`.
// Returns 0 when every line was understood, -1 when some were skipped.
int sc_parse_config(const std::string& text, sc_config_s& out, std::string* message);

// The built-in types, in the configuration format (the shipped Quarnel.conf holds the same).
const char* sc_default_config_text();

// Where a configuration named like `path` is found: `path` itself, then its file name beside
// the program, then in the installed data folder. Empty when none exists.
std::string sc_find_config_file(const std::string& path);

// The configuration in force for new scans (the built-in one until sc_load_config succeeds).
std::shared_ptr<const sc_config_s> sc_current_config();
