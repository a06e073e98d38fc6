#include "partitions/partition_repair.h"

#include <QMutexLocker>
#include <string>
#include <vector>

#include "partitions/partition_search.h"
#include "platform/platform_backend.h"

namespace {
constexpr uint32_t disk_sector_bytes = 512;
}  // namespace

partition_repair_c::partition_repair_c(QObject* parent) : QThread(parent) {
    qRegisterMetaType<partition_item_s>("partition_item_s");
}

partition_repair_c::~partition_repair_c() {
    request_stop();
    wait();
}

void partition_repair_c::set_drive(const drive_item_s& drive) {
    if (isRunning()) {
        return;
    }
    drive_ = drive;
    // Finds of another disk must never reach this one's partition table.
    QMutexLocker locker(&lock_);
    partitions_.clear();
    progress_.store(0.0);
    search_status_.store(0);
}

QList<partition_item_s> partition_repair_c::partitions() const {
    QMutexLocker locker(&lock_);
    return partitions_;
}

void partition_repair_c::request_stop() {
    if (isRunning()) {
        stop_.store(true);
    }
}

void partition_repair_c::run() {
    {
        QMutexLocker locker(&lock_);
        partitions_.clear();
    }
    progress_.store(0.0);
    search_status_.store(0);
    std::unique_ptr<block_source_c> disk;
    if (drive_ && !drive_->name.isEmpty()) {
        disk = platform().open_read(drive_->name.toStdString());
    }
    if (disk) {
        partition_search_hooks_s hooks;
        hooks.progress = &progress_;
        hooks.stop = &stop_;
        hooks.found = [this](const partition_item_s& item) {
            {
                QMutexLocker locker(&lock_);
                partitions_.append(item);
            }
            emit partition_found();
        };
        search_status_.store(search_partitions(*disk, hooks));
    } else {
        search_status_.store(-1);
    }
    stop_.store(false);
}

int partition_repair_c::write_partition_table() {
    last_repair_ = repair_report_s{};
    if (isRunning()) {
        last_repair_.message = "the search is still running";
        return -1;
    }
    if (!drive_ || drive_->name.isEmpty()) {
        last_repair_.message = "no disk was chosen";
        return -1;
    }
    if (drive_->geometry && drive_->geometry->bytes_per_sector != 0 &&
        drive_->geometry->bytes_per_sector != disk_sector_bytes) {
        // Table entries count the disk's own sectors; ours are 512 bytes.
        last_repair_.message = "the disk has " +
                               std::to_string(drive_->geometry->bytes_per_sector) +
                               "-byte sectors; only 512-byte sector disks can be repaired";
        return -1;
    }
    chs_geometry_s geometry;
    if (drive_->geometry) {
        geometry = usable_chs_geometry(drive_->geometry->tracks_per_cylinder,
                                       drive_->geometry->sectors_per_track);
    }
    QList<partition_item_s> found = partitions();
    std::vector<partition_item_s> list(found.begin(), found.end());
    return repair_partition_table(drive_->name.toStdString(), list, geometry, last_repair_);
}
