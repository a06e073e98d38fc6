#include <QString>

#include "cli/scan_session.h"
#include "engines/ntfs_recovery.h"

std::unique_ptr<scan_session_s> make_ntfs_session() {
    auto session = std::make_unique<scan_session_s>();
    auto engine = std::make_unique<ntfs_recovery_c>();
    ntfs_recovery_c* ntfs = engine.get();
    session->engine = std::move(engine);
    session->root_id = 5;
    session->list = [ntfs]() {
        std::vector<found_item_s> items;
        items.reserve(ntfs->records().size());
        for (const auto& [key, record] : ntfs->records()) {
            if (key == 5) {
                continue;  // the root folder itself
            }
            const ntfs_entry_s& entry = record.entry;
            found_item_s item;
            item.id = key;
            item.parent_id = entry.parent_id;
            item.name = QString::fromUtf16(entry.name);
            item.size = entry.size;
            item.date1 = entry.date1;
            item.date2 = entry.date2;
            item.folder = (entry.flags & ntfs_flag_folder) != 0;
            item.deleted = (entry.flags & ntfs_flag_deleted) != 0;
            items.push_back(item);
        }
        return items;
    };
    return session;
}
