#include "engines/fat_recovery.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include "engines/fat/fat_file.h"
#include "engines/fat/fat_folder.h"
#include "engines/fat/fat_time.h"
#include "engines/fat/sector_access.h"

namespace {

// The reader keeps process-wide state (mount table, window): one user at a time, be it a
// scan or a file being written out.
std::mutex reader_lock;
fat_volume_s reader_volume;

constexpr double progress_steps = 2000.0;
constexpr double progress_ceiling = 0.99;
constexpr uint32_t record_name_units = 259;
constexpr uint32_t long_name_buffer_units = 512;
constexpr uint32_t copy_buffer_size = 65536;
constexpr unsigned long pause_sleep_ms = 100;

}  // namespace

fat_recovery_c::fat_recovery_c(QObject* parent) : scan_engine_c(parent) {}

fat_recovery_c::~fat_recovery_c() {
    if (isRunning()) {
        set_stop(stop_abandon);
        wait();
    }
}

void fat_recovery_c::reset() {
    reset_state();
    record_map_.clear();
}

void fat_recovery_c::trace(const char* format, ...) const {
    if (!trace_ || !::isatty(STDERR_FILENO)) {
        return;
    }
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

void fat_recovery_c::run() {
    reset();
    open_result_.store(-1);
    {
        std::lock_guard<std::mutex> guard(reader_lock);
        std::string path = volume_.volume_path.toStdString();
        if (!path.empty() && (path.back() == '\\' || path.back() == '/') && path.size() > 1) {
            path.pop_back();
        }
        if (bind_volume(path) == 0) {
            f_attach(0, &reader_volume);
            trace("Start Fat Scan.\n");
            std::unordered_set<uint32_t> listed;
            pending_lists_s pending;
            // Folders are listed one at a time from explicit stacks, so nesting depth
            // costs heap, not call stack.
            walk_folder(true, pending_folder_s{}, pending, listed);
            while (stop_.load() == 0 && !(pending.live.empty() && pending.deleted.empty())) {
                std::vector<uint32_t>& from = pending.live.empty() ? pending.deleted : pending.live;
                uint32_t key = from.back();
                from.pop_back();
                // The record may have been replaced since it was met: list what it is now.
                auto found = record_map_.find(key);
                if (found == record_map_.end() || !(found->second.entry.attr & fat_attr_folder)) {
                    continue;
                }
                const fat_entry_s& entry = found->second.entry;
                uint8_t inside =
                    (entry.in_deleted_folder || (entry.attr & fat_attr_deleted)) ? 1 : 0;
                walk_folder(false, pending_folder_s{key, inside}, pending, listed);
            }
        }
    }
    fat_record_s root;
    root.entry.attr = fat_attr_folder;
    record_map_[0] = root;
    link_records();
}

int fat_recovery_c::walk_folder(bool root, const pending_folder_s& folder, pending_lists_s& pending,
                                std::unordered_set<uint32_t>& listed) {
    auto cursor = std::make_unique<folder_cursor_s>();
    fat_result opened = f_opendir(*cursor, "/");
    if (opened != fat_ok) {
        trace(root ? "f_opendir failed 1.\n" : "f_opendir failed 2.\n");
        if (root) {
            open_result_.store(opened);
        }
        return -1;
    }
    cursor->listed_clusters = &listed;
    cursor->start_cluster = folder.cluster;
    cursor->cluster = folder.cluster;
    opened = f_readdir(*cursor, nullptr);
    if (root) {
        open_result_.store(opened);
    }
    if (opened != fat_ok) {
        return -1;
    }
    static char16_t long_name[long_name_buffer_units];
    entry_info_s info;
    info.long_name = long_name;
    info.long_name_size = long_name_buffer_units;
    while (stop_.load() == 0) {
        while (pause_.load() != 0) {
            if (stop_.load() != 0) {
                return 0;
            }
            msleep(pause_sleep_ms);
        }
        uint64_t before = scanned_.load();
        double share = double(before) / progress_steps;
        scanned_.store(before + 1);
        trace("file count:%llu\n", static_cast<unsigned long long>(before + 1));
        progress_.store(share <= 1.0 ? share : progress_ceiling);

        fat_result result = f_readdir(*cursor, &info);
        if (info.short_name[0] != 0) {
            // Also the entry that came with an error: the last one of a deleted folder's
            // first cluster, whose chain is gone from the FAT.
            record_entry(info, long_name, folder, pending);
        }
        if (result != fat_ok) {
            trace("f_readdir failed 1.\n");
            return 0;
        }
        if (info.short_name[0] == 0) {
            return 0;
        }
    }
    return 0;
}

void fat_recovery_c::record_entry(const entry_info_s& info, const char16_t* long_name,
                                  const pending_folder_s& folder, pending_lists_s& pending) {
    const char16_t* name = long_name[0] != 0 ? long_name : info.short_name;
    if (info.first_cluster == 0 || info.short_name[0] == u'.' || name[0] == 0) {
        return;
    }
    if (info.first_cluster >= reader_volume.fat_entries) {
        return;  // points outside the volume: nothing there to list or recover
    }
    uint8_t attr = info.attr;
    if (folder.inside_deleted) {
        // Nothing in a deleted folder is reachable any more, whatever its own entry says.
        attr |= fat_attr_deleted;
    }
    if (!(attr & (fat_attr_folder | fat_attr_deleted))) {
        return;
    }
    fat_entry_s entry;
    entry.entry_id = info.first_cluster;
    entry.parent_id = folder.cluster;
    entry.size = info.size;
    entry.date1 = fat_time_to_unix(info.write_date, info.write_time);
    entry.date2 = fat_time_to_unix(info.create_date, info.create_time);
    entry.attr = attr;
    entry.in_deleted_folder = folder.inside_deleted;
    uint32_t length = 0;
    while (length < record_name_units && name[length] != 0) {
        entry.name[length] = name[length];
        ++length;
    }
    entry.name[length] = 0;

    if (keep_or_drop(entry) && (attr & fat_attr_folder)) {
        (attr & fat_attr_deleted ? pending.deleted : pending.live).push_back(entry.entry_id);
    }
}

bool fat_recovery_c::keep_or_drop(const fat_entry_s& entry) {
    auto existing = record_map_.find(entry.entry_id);
    if (existing == record_map_.end()) {
        fat_record_s record;
        record.entry = entry;
        record_map_.emplace(entry.entry_id, std::move(record));
        found_.fetch_add(1);
        return true;
    }
    fat_entry_s& old = existing->second.entry;
    bool keep_new = false;
    bool new_folder = entry.attr & fat_attr_folder;
    bool new_deleted = entry.attr & fat_attr_deleted;
    if (old.in_deleted_folder == 0 && entry.in_deleted_folder == 1) {
        keep_new = false;
    } else if (!new_folder) {
        keep_new = old.date2 < entry.date2;
    } else if (new_deleted) {
        bool old_live_folder = (old.attr & fat_attr_folder) && !(old.attr & fat_attr_deleted);
        keep_new = !old_live_folder && old.date2 < entry.date2;
    } else {
        keep_new = true;
    }
    if (keep_new) {
        old = entry;
    }
    return false;
}

void fat_recovery_c::link_records() {
    for (auto& [key, record] : record_map_) {
        if (key == 0) {
            continue;
        }
        // A record that names itself as its parent would become its own child.
        if (record.entry.parent_id == key) {
            continue;
        }
        auto parent = record_map_.find(record.entry.parent_id);
        if (parent != record_map_.end()) {
            parent->second.children.append(&record);
        }
    }
    for (auto& [key, record] : record_map_) {
        if (key == 0 || (record.entry.attr & fat_attr_folder)) {
            continue;
        }
        uint32_t parent_id = record.entry.parent_id;
        while (true) {
            auto parent = record_map_.find(parent_id);
            if (parent == record_map_.end() || parent->second.has_found) {
                break;
            }
            parent->second.has_found = true;
            parent_id = parent->second.entry.parent_id;
        }
    }
}

int32_t fat_recovery_c::recover_file(uint64_t id, const QString& target) {
    std::lock_guard<std::mutex> guard(reader_lock);
    auto found = record_map_.find(uint32_t(id));
    if (found == record_map_.end()) {
        return -1;
    }
    const fat_entry_s& entry = found->second.entry;
    file_cursor_s cursor;
    cursor.volume = &reader_volume;
    cursor.mount_id = reader_volume.mount_id;
    cursor.flags = file_open_read;
    cursor.size = entry.size;
    cursor.first_cluster = entry.entry_id;
    int file = ::open(QFile::encodeName(target).constData(),
                      O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (file < 0) {
        return -1;
    }
    // A deleted file's chain is gone from the FAT: read its clusters in a row.
    bool contiguous = entry.attr & fat_attr_deleted;
    std::vector<uint8_t> buffer(copy_buffer_size);
    uint64_t written = 0;
    bool write_failed = false;
    while (!write_failed) {
        uint32_t read = 0;
        f_readfile(cursor, buffer.data(), copy_buffer_size, read, contiguous);
        if (read == 0) {
            break;
        }
        for (uint32_t done = 0; done < read;) {
            ssize_t put = ::write(file, buffer.data() + done, read - done);
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put <= 0) {
                write_failed = true;
                break;
            }
            done += uint32_t(put);
        }
        written += write_failed ? 0 : read;
    }
    if (::close(file) != 0) {
        write_failed = true;
    }
    return (!write_failed && written == entry.size) ? 0 : -1;
}

int32_t fat_recovery_c::entry_path(uint64_t id, std::wstring& out) {
    out = volume_.root_path.toStdWString();
    if (!out.empty() && (out.back() == L'/' || out.back() == L'\\')) {
        out.pop_back();
    }
    std::vector<const fat_entry_s*> chain;
    uint32_t key = uint32_t(id);
    if (key == 0) {
        return record_map_.count(0) ? 0 : -1;
    }
    // A chain longer than the map has a loop in it.
    while (chain.size() <= record_map_.size()) {
        auto found = record_map_.find(key);
        if (found == record_map_.end() || (key == 0 && !chain.empty())) {
            return -1;
        }
        chain.push_back(&found->second.entry);
        if (found->second.entry.parent_id == 0) {
            for (auto link = chain.rbegin(); link != chain.rend(); ++link) {
                out += L'/';
                out += QString::fromUtf16((*link)->name).toStdWString();
            }
            return 0;
        }
        key = found->second.entry.parent_id;
    }
    return -1;
}
