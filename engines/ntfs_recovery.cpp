#include "engines/ntfs_recovery.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

constexpr uint64_t root_id = 5;
constexpr unsigned long pause_step_ms = 100;
constexpr uint64_t max_reserved_records = 1u << 20;

}  // namespace

ntfs_recovery_c::ntfs_recovery_c(QObject* parent) : scan_engine_c(parent) {
    reset();
}

ntfs_recovery_c::~ntfs_recovery_c() {
    // The thread uses the context: it must be over before the context goes.
    set_stop(stop_abandon);
    wait();
    std::lock_guard<std::mutex> lock(context_mutex_);
    ntfs_scan_close(&context_);
}

void ntfs_recovery_c::reset() {
    reset_state();
    // The arena takes its memory back only once no record is left in it.
    record_map_.reset();
    arena_.release();
    record_map_.emplace(&arena_);
}

QString ntfs_recovery_c::log_path() {
    QString base = QString::fromLocal8Bit(qgetenv("XDG_STATE_HOME"));
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) {
        base = QDir::homePath() + QStringLiteral("/.local/state");
    }
    return base + QStringLiteral("/quarnel/Tamblin.log");
}

void ntfs_recovery_c::log_failure(const char* file, int line, int result) {
    const char* source = std::strrchr(file, '/') ? std::strrchr(file, '/') + 1 : file;
    char message[128];
    std::snprintf(message, sizeof message, "ntfs_scan_startup failed with return value (%d)",
                  result);
    const QString path = log_path();
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (FILE* log = std::fopen(QFile::encodeName(path).constData(), "a")) {
        const std::time_t now = std::time(nullptr);
        char stamp[64] = "";
        if (const char* text = std::ctime(&now)) {
            std::snprintf(stamp, sizeof stamp, "%s", text);
            stamp[std::strcspn(stamp, "\r\n")] = '\0';
        }
        std::fprintf(log, "%s  [%s:%d] %s\n", stamp, source, line, message);
        std::fclose(log);
    }
    std::fprintf(stderr, "ERROR: [%s:%d] %s\n", source, line, message);
    std::fflush(stderr);
}

void ntfs_recovery_c::run() {
    reset();
    int result = ntfs_err_open;
    {
        std::lock_guard<std::mutex> lock(context_mutex_);
        if (context_.open) {
            ntfs_scan_close(&context_);
        }
        // The volume's own location: its volume path, else its device node or image slot.
        const QString candidates[2] = {volume_.volume_path, volume_.device_name};
        for (const QString& location : candidates) {
            if (location.isEmpty()) {
                continue;
            }
            result = ntfs_scan_startup(QFile::encodeName(location).constData(), &context_);
            if (result != ntfs_err_open) {
                break;
            }
        }
    }
    open_result_.store(result);
    if (result < 0) {
        log_failure(__FILE__, __LINE__, result);
        return;
    }
    // Buckets for every record the MFT may hand in: no rehash of a large map midway.
    record_map_->reserve(
        static_cast<size_t>(std::min<uint64_t>(context_.records_total, max_reserved_records)));
    ntfs_entry_s entry{};
    while (stop_.load() == 0) {
        while (pause_.load() != 0 && stop_.load() == 0) {
            msleep(pause_step_ms);
        }
        if (stop_.load() != 0) {
            break;
        }
        if (ntfs_scan_next(&context_, &entry) == 0) {
            break;
        }
        const uint64_t total = context_.records_total;
        progress_.store(total == 0 ? 0.0
                                   : static_cast<double>(context_.records_done) /
                                         static_cast<double>(total));
        scanned_.fetch_add(1, std::memory_order_relaxed);
        if ((entry.flags & ntfs_flag_deleted) != 0 || (entry.flags & ntfs_flag_file) == 0) {
            found_.fetch_add(1, std::memory_order_relaxed);
            // A later entry under the same number replaces the earlier one.
            ntfs_record_s& record = (*record_map_)[entry.entry_id];
            record.entry = entry;
            record.has_found = false;
            record.children.clear();
        }
    }
    link_records();
}

void ntfs_recovery_c::link_records() {
    ntfs_record_map& record_map = *record_map_;
    for (auto& [id, record] : record_map) {
        auto parent = record_map.find(record.entry.parent_id);
        if (parent == record_map.end()) {
            continue;
        }
        parent->second.children.append(&record);
        if ((record.entry.flags & ntfs_flag_file) == 0) {
            continue;
        }
        // Stops at the first folder already marked; the root's self-link ends every walk
        // that reaches it, and a loop of parents ends once every member is marked.
        while (parent != record_map.end() && !parent->second.has_found) {
            parent->second.has_found = true;
            parent = record_map.find(parent->second.entry.parent_id);
        }
    }
}

int32_t ntfs_recovery_c::recover_file(uint64_t id, const QString& target) {
    std::lock_guard<std::mutex> lock(context_mutex_);
    const QByteArray path = QFile::encodeName(target);
    uint32_t written = 0;
    const int32_t result = ntfs_recover_file(&context_, id, path.constData(), &written);
    // The library replaces the target once it has data to write: a failure before that
    // must not leave an older file under the name either.
    if (result != 0 && written == 0) {
        QFile::remove(target);
    }
    return result;
}

int32_t ntfs_recovery_c::entry_path(uint64_t id, std::wstring& out) {
    out = volume_.root_path.toStdWString();
    if (!out.empty() && (out.back() == L'/' || out.back() == L'\\')) {
        out.pop_back();
    }
    const ntfs_record_map& record_map = *record_map_;
    std::vector<const ntfs_entry_s*> chain;
    uint64_t key = id;
    // A chain longer than the map has a loop in it.
    while (chain.size() <= record_map.size()) {
        auto found = record_map.find(key);
        if (found == record_map.end()) {
            return -1;
        }
        chain.push_back(&found->second.entry);
        if (found->second.entry.parent_id == root_id) {
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
