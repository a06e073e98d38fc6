#pragma once

#include <QStringView>
#include <algorithm>
#include <iterator>
#include <memory_resource>
#include <vector>

#include "cli/scan_session.h"

// Turns an engine's record map into the command line's items, leaving the root out.
// `folder` and `deleted` read the two flags from the engine's own entry type. The items'
// names point into `records`; the list is allocated from `memory`.
template <typename map_t, typename folder_fn, typename deleted_fn>
std::pmr::vector<found_item_s> list_records(const map_t& records, uint64_t root_id,
                                            folder_fn folder, deleted_fn deleted,
                                            std::pmr::memory_resource* memory) {
    std::pmr::vector<found_item_s> items(memory);
    items.reserve(records.size());
    for (const auto& [key, record] : records) {
        if (key == root_id) {
            continue;
        }
        const auto& entry = record.entry;
        found_item_s item;
        item.id = key;
        item.parent_id = entry.parent_id;
        // Up to the terminating zero, never past the array.
        const auto* name_end = std::find(std::begin(entry.name), std::end(entry.name), 0);
        item.name = QStringView(std::begin(entry.name), name_end);
        item.size = entry.size;
        item.date1 = entry.date1;
        item.date2 = entry.date2;
        item.folder = folder(entry);
        item.deleted = deleted(entry);
        items.push_back(item);
    }
    return items;
}
