#include "engines/fat/fat_file.h"

#include <algorithm>
#include <cstring>

#include "engines/fat/fat_layout.h"
#include "engines/fat/sector_access.h"

namespace {

fat_result fail(file_cursor_s& cursor, fat_result result) {
    cursor.flags |= file_read_failed;
    return result;
}

}  // namespace

fat_result f_readfile(file_cursor_s& cursor, void* buffer, uint32_t count, uint32_t& read,
                      bool contiguous) {
    read = 0;
    fat_volume_s* volume = cursor.volume;
    if (volume == nullptr || volume->fs_type == fat_type_none ||
        volume->mount_id != cursor.mount_id) {
        return fat_invalid_object;
    }
    if (drive_status(volume->drive) & drive_not_ready) {
        return fat_not_ready;
    }
    if (cursor.flags & file_read_failed) {
        return fat_internal_error;
    }
    if (!(cursor.flags & file_open_read)) {
        return fat_denied;
    }
    auto* out = static_cast<uint8_t*>(buffer);
    count = std::min(count, cursor.size - std::min(cursor.size, cursor.position));
    const uint32_t per_cluster = volume->sectors_per_cluster;
    while (count > 0) {
        uint32_t in_cluster = (cursor.position / fat_sector_size) & (per_cluster - 1);
        if (cursor.position % fat_sector_size == 0 && in_cluster == 0) {
            uint32_t next = 0;
            if (cursor.position == 0) {
                next = cursor.first_cluster;
            } else if (contiguous) {
                next = cursor.cluster + 1;
            } else {
                next = read_fat_entry(*volume, cursor.cluster);
            }
            if (next == fat_read_failed) {
                return fail(cursor, fat_disk_error);
            }
            if (next < 2) {
                return fail(cursor, fat_internal_error);
            }
            cursor.cluster = next;
        }
        uint64_t sector = cluster_to_sector(*volume, cursor.cluster);
        if (sector == 0) {
            return fail(cursor, fat_internal_error);
        }
        sector += in_cluster;
        uint32_t whole = count / fat_sector_size;
        if (cursor.position % fat_sector_size == 0 && whole > 0) {
            // Whole sectors go straight into the caller's buffer, up to the cluster's end; in
            // contiguous mode the following clusters are the next sectors, so one read may
            // run on through them (as far as the volume and one transfer reach).
            uint32_t sectors = std::min(whole, per_cluster - in_cluster);
            if (contiguous) {
                uint64_t left_in_volume =
                    uint64_t(volume->fat_entries - cursor.cluster) * per_cluster - in_cluster;
                sectors = uint32_t(std::min<uint64_t>(
                    {whole, transfer_buffer_size / fat_sector_size, left_in_volume}));
                cursor.cluster += (in_cluster + sectors - 1) / per_cluster;
            }
            if (read_sectors(volume->drive, out, sector, sectors) != sector_ok) {
                return fail(cursor, fat_disk_error);
            }
            uint32_t bytes = sectors * fat_sector_size;
            out += bytes;
            cursor.position += bytes;
            read += bytes;
            count -= bytes;
            continue;
        }
        if (cursor.buffered_sector != sector) {
            if (read_sectors(volume->drive, cursor.buffer, sector, 1) != sector_ok) {
                cursor.buffered_sector = 0;
                return fail(cursor, fat_disk_error);
            }
            cursor.buffered_sector = sector;
        }
        uint32_t offset = cursor.position % fat_sector_size;
        uint32_t bytes = std::min(fat_sector_size - offset, count);
        std::memcpy(out, cursor.buffer + offset, bytes);
        out += bytes;
        cursor.position += bytes;
        read += bytes;
        count -= bytes;
    }
    return fat_ok;
}
