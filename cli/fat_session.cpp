#include <QString>

#include "cli/scan_session.h"
#include "engines/fat_recovery.h"

std::unique_ptr<scan_session_s> make_fat_session() {
    auto session = std::make_unique<scan_session_s>();
    auto engine = std::make_unique<fat_recovery_c>();
    // The command line draws its own progress line.
    engine->set_trace(false);
    fat_recovery_c* fat = engine.get();
    session->engine = std::move(engine);
    session->root_id = 0;
    session->list = [fat]() {
        std::vector<found_item_s> items;
        items.reserve(fat->records().size());
        for (const auto& [key, record] : fat->records()) {
            if (key == 0) {
                continue;  // the root folder itself
            }
            const fat_entry_s& entry = record.entry;
            found_item_s item;
            item.id = key;
            item.parent_id = entry.parent_id;
            item.name = QString::fromUtf16(entry.name);
            item.size = entry.size;
            item.date1 = entry.date1;
            item.date2 = entry.date2;
            item.folder = entry.attr & fat_attr_folder;
            item.deleted = entry.attr & fat_attr_deleted;
            items.push_back(item);
        }
        return items;
    };
    return session;
}
