#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engines/recovery_base.h"

// One found entry, the same for every engine, as the command line lists and recovers it.
struct found_item_s {
    uint64_t id = 0;
    uint64_t parent_id = 0;
    QString name;
    uint64_t size = 0;
    int64_t date1 = 0;  // modification, seconds since 1970 UTC
    int64_t date2 = 0;  // creation
    bool folder = false;
    bool deleted = false;
};

// An engine together with the way to read its finished results.
struct scan_session_s {
    std::unique_ptr<recovery_base_c> engine;
    uint64_t root_id = 0;  // id of the root folder; items whose chain misses it are orphans
    std::function<std::vector<found_item_s>()> list;  // valid after the engine's run
    // After the run: empty when the volume could be read, else why not, for the user.
    std::function<std::string()> open_error;
};

// Each returns nullptr when that engine is not available in this build.
std::unique_ptr<scan_session_s> make_fat_session();
std::unique_ptr<scan_session_s> make_ntfs_session();
