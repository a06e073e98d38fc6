#include "engines/fat/sector_access.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/platform_backend.h"

volume_binding_s volume_bindings[volume_binding_count];

namespace {

using namespace std::chrono_literals;

constexpr uint16_t accepted_sector_size = 512;
constexpr uint32_t max_sectors_per_read = 255;

// Guards the drive table and the transfer buffer; every read holds it from seek to copy.
// Both are never destroyed: the detached watchdog still reads them while exit runs the
// static destructors.
std::timed_mutex& drive_mutex = *new std::timed_mutex;
std::vector<sector_drive_s>& drives = *new std::vector<sector_drive_s>;
std::atomic<uint32_t> drive_count{0};
uint8_t transfer_buffer[transfer_buffer_size];
std::once_flag watchdog_once;

// Drive state with the lock held: the query the watchdog and mounts rely on.
int query_locked(sector_drive_s& drive) {
    if (!drive.handle || !drive.handle->present()) {
        drive.status = drive_not_ready;
        return 0;
    }
    if (drive.sector_size != accepted_sector_size) {
        drive.status = drive_not_ready;
        return 0;
    }
    drive.sector_count = drive.handle->size() / drive.sector_size;
    drive.status = access(drive.path.c_str(), W_OK) == 0 ? 0 : drive_write_protected;
    return 1;
}

// Opens every listed disk with the lock held. The listing goes to stderr only on a
// terminal: stdout belongs to the command-line program's output.
uint32_t open_locked() {
    drives.clear();
    bool listing = isatty(STDERR_FILENO) != 0;
    std::vector<disk_probe_s> disks = list_disks();
    for (size_t n = 0; n < disks.size(); ++n) {
        sector_drive_s drive;
        drive.path = disks[n].path;
        drive.handle = platform().open_read(disks[n].path);
        if (!drive.handle) {
            drive.status = drive_not_ready;
        }
        drive.sector_size = static_cast<uint16_t>(disks[n].geometry.bytes_per_sector);
        if (listing) {
            std::fprintf(stderr, "Disk# %zu <== %s", n, drive.path.c_str());
        }
        if (query_locked(drive)) {
            if (listing) {
                std::fprintf(stderr, " (%lluMB, %u bytes * %llu sectors)\n",
                             static_cast<unsigned long long>(drive.sector_size *
                                                             drive.sector_count / 1024 / 1024),
                             drive.sector_size,
                             static_cast<unsigned long long>(drive.sector_count));
            }
        } else if (listing) {
            std::fprintf(stderr, " (Not Ready)\n");
        }
        drives.push_back(std::move(drive));
    }
    drive_count = static_cast<uint32_t>(drives.size());
    return drive_count;
}

// Marks a drive not ready as soon as its medium is gone, so that a scan ends instead of
// reading errors for every remaining sector.
void media_watchdog() {
    for (;;) {
        std::this_thread::sleep_for(100ms);
        for (uint32_t n = 0;; ++n) {
            std::this_thread::sleep_for(1ms);
            std::unique_lock lock(drive_mutex, std::defer_lock);
            if (!lock.try_lock_for(100ms)) {
                continue;
            }
            if (n >= drives.size()) {
                break;
            }
            sector_drive_s& drive = drives[n];
            if (drive.handle && !(drive.status & drive_not_ready) && !drive.handle->present()) {
                drive.status |= drive_not_ready;
            }
        }
    }
}

void start_watchdog() {
    std::call_once(watchdog_once, [] { std::thread(media_watchdog).detach(); });
}

}  // namespace

uint32_t open_sector_drives() {
    uint32_t count;
    {
        std::lock_guard lock(drive_mutex);
        count = open_locked();
    }
    start_watchdog();
    return count;
}

uint32_t reopen_sector_drives() {
    return open_sector_drives();
}

uint32_t sector_drive_count() {
    return drive_count;
}

int query_drive(uint32_t drive) {
    std::lock_guard lock(drive_mutex);
    return drive < drives.size() ? query_locked(drives[drive]) : 0;
}

uint8_t drive_initialize(uint32_t drive) {
    std::unique_lock lock(drive_mutex, std::defer_lock);
    if (!lock.try_lock_for(5000ms)) {
        return drive_not_ready;
    }
    if (drive >= drives.size()) {
        return drive_not_ready;
    }
    query_locked(drives[drive]);
    return drives[drive].status;
}

uint8_t drive_status(uint32_t drive) {
    std::unique_lock lock(drive_mutex, std::defer_lock);
    if (!lock.try_lock_for(3000ms) || drive >= drives.size()) {
        return drive_not_ready;
    }
    return drives[drive].status;
}

int read_sectors(uint32_t drive, void* buffer, uint64_t sector, uint32_t count) {
    std::unique_lock lock(drive_mutex, std::defer_lock);
    if (!lock.try_lock_for(3000ms)) {
        return sector_not_ready;
    }
    if (drive >= drives.size() || (drives[drive].status & drive_not_ready)) {
        return sector_not_ready;
    }
    sector_drive_s& d = drives[drive];
    uint64_t bytes = uint64_t{count} * d.sector_size;
    if (count == 0 || count > max_sectors_per_read || bytes > transfer_buffer_size) {
        return sector_bad_parameter;
    }
    if (sector > UINT64_MAX / d.sector_size) {
        return sector_read_error;
    }
    int64_t got = d.handle->read_at(sector * d.sector_size, transfer_buffer, bytes);
    if (got != static_cast<int64_t>(bytes)) {
        return sector_read_error;
    }
    std::memcpy(buffer, transfer_buffer, bytes);
    return sector_ok;
}

int locate_volume(const std::string& volume_path, uint32_t& partition_number, uint32_t& disk_number,
                  uint64_t& start_sector) {
    location_s where;
    if (resolve_location(volume_path, where) != 0 || where.disk_number < 0) {
        return -1;
    }
    partition_number = static_cast<uint32_t>(where.partition_number);
    disk_number = static_cast<uint32_t>(where.disk_number);
    start_sector = where.start_offset / accepted_sector_size;
    return 0;
}

int bind_volume(const std::string& volume_path) {
    // A drive put in place by install_sector_drive is named "memory:N".
    if (volume_path.rfind("memory:", 0) == 0) {
        uint32_t slot = static_cast<uint32_t>(std::strtoul(volume_path.c_str() + 7, nullptr, 10));
        std::lock_guard lock(drive_mutex);
        if (slot >= drives.size() || drives[slot].path != volume_path) {
            return -1;
        }
        volume_bindings[0] = volume_binding_s{slot, 0, 0};
        return 0;
    }
    location_s where;
    if (resolve_location(volume_path, where) != 0 || where.disk_number < 0) {
        return -1;
    }
    // Drives are matched by path, not by number: disks come and go (a loop device attached
    // by another program), so one disk's number may differ between two listings.
    auto slot_of = [&where]() -> int64_t {
        std::lock_guard lock(drive_mutex);
        for (size_t n = 0; n < drives.size(); ++n) {
            if (drives[n].path == where.disk_path) {
                return static_cast<int64_t>(n);
            }
        }
        return -1;
    };
    int64_t slot = slot_of();
    if (slot < 0) {  // an image registered, or a disk attached, after the drives were opened
        open_sector_drives();
        slot = slot_of();
    }
    if (slot < 0) {
        return -1;
    }
    volume_bindings[0] =
        volume_binding_s{static_cast<uint32_t>(slot), static_cast<uint32_t>(where.partition_number),
                         where.start_offset / accepted_sector_size};
    return 0;
}

void install_sector_drive(uint32_t drive, std::shared_ptr<block_source_c> source,
                          uint16_t sector_size) {
    {
        std::lock_guard lock(drive_mutex);
        if (drives.size() <= drive) {
            drives.resize(drive + 1);
        }
        sector_drive_s& d = drives[drive];
        d.handle = std::move(source);
        d.path = "memory:" + std::to_string(drive);
        d.sector_size = sector_size;
        query_locked(d);
        drive_count = static_cast<uint32_t>(drives.size());
    }
    start_watchdog();
}
