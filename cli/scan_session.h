#pragma once

#include <QStringView>
#include <cstdint>
#include <functional>
#include <memory>
#include <memory_resource>
#include <string>
#include <vector>

#include "engines/recovery_base.h"

// One found entry, the same for every engine, as the command line lists and recovers it.
// `name` points into the engine's own record: valid while the session's engine lives (a
// copy per entry would only load the allocator on volumes with 100,000s of entries).
struct found_item_s {
    uint64_t id = 0;
    uint64_t parent_id = 0;
    QStringView name;
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
    // Valid after the engine's run; the items are allocated from `memory`.
    std::function<std::pmr::vector<found_item_s>(std::pmr::memory_resource* memory)> list;
    // After the run: empty when the volume could be read, else why not, for the user.
    std::function<std::string()> open_error;
};

// Each returns nullptr when that engine is not available in this build.
std::unique_ptr<scan_session_s> make_fat_session();
std::unique_ptr<scan_session_s> make_ntfs_session();
