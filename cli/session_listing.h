#pragma once

#include <QString>
#include <vector>

#include "cli/scan_session.h"

// Turns an engine's record map into the command line's items, leaving the root out.
// `folder` and `deleted` read the two flags from the engine's own entry type.
template <typename map_t, typename folder_fn, typename deleted_fn>
std::vector<found_item_s> list_records(const map_t& records, uint64_t root_id, folder_fn folder,
                                       deleted_fn deleted) {
    std::vector<found_item_s> items;
    items.reserve(records.size());
    for (const auto& [key, record] : records) {
        if (key == root_id) {
            continue;
        }
        const auto& entry = record.entry;
        found_item_s item;
        item.id = key;
        item.parent_id = entry.parent_id;
        item.name = QString::fromUtf16(entry.name);
        item.size = entry.size;
        item.date1 = entry.date1;
        item.date2 = entry.date2;
        item.folder = folder(entry);
        item.deleted = deleted(entry);
        items.push_back(item);
    }
    return items;
}
