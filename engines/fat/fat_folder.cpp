#include "engines/fat/fat_folder.h"

#include <cstring>

#include "engines/fat/fat_layout.h"
#include "engines/fat/oem_codepage.h"
#include "engines/fat/sector_access.h"
#include "engines/fat_entry.h"

namespace {

constexpr uint8_t attr_mask = 0x3F;

bool already_listed(folder_cursor_s& cursor, uint32_t cluster) {
    if (cursor.listed_clusters == nullptr) {
        return false;
    }
    return !cursor.listed_clusters->insert(cluster).second;
}

fat_result rewind_folder(folder_cursor_s& cursor) {
    fat_volume_s& volume = *cursor.volume;
    cursor.index = 0;
    cursor.entry_offset = 0;
    uint32_t cluster = cursor.start_cluster;
    if (cluster == 1 || cluster >= volume.fat_entries) {
        return fat_internal_error;
    }
    if (cluster == 0 && volume.fs_type == fat_type_32) {
        cluster = volume.root_start < volume.fat_entries ? uint32_t(volume.root_start) : 1;
        if (cluster < 2) {
            return fat_internal_error;
        }
    }
    if (cluster == 0) {
        cursor.cluster = 0;
        if (volume.root_entries == 0) {
            return fat_internal_error;
        }
        cursor.sector = volume.root_start;
        return fat_ok;
    }
    cursor.cluster = cluster;
    cursor.sector = already_listed(cursor, cluster) ? 0 : cluster_to_sector(volume, cluster);
    return fat_ok;
}

fat_result advance_entry(folder_cursor_s& cursor) {
    fat_volume_s& volume = *cursor.volume;
    uint32_t index = cursor.index + 1;
    if (index >= folder_max_entries || cursor.sector == 0) {
        return fat_no_more_entries;
    }
    if (index % fat_entries_per_sector == 0) {
        ++cursor.sector;
        if (cursor.cluster == 0) {
            if (index >= volume.root_entries) {
                return fat_no_more_entries;
            }
        } else if (((index / fat_entries_per_sector) & (volume.sectors_per_cluster - 1)) == 0) {
            uint32_t next = read_fat_entry(volume, cursor.cluster);
            if (next == fat_read_failed) {
                return fat_disk_error;
            }
            if (next <= 1) {
                return fat_internal_error;
            }
            if (next >= volume.fat_entries || already_listed(cursor, next)) {
                return fat_no_more_entries;
            }
            cursor.cluster = next;
            cursor.sector = cluster_to_sector(volume, next);
        }
    }
    cursor.index = index;
    cursor.entry_offset = (index % fat_entries_per_sector) * fat_entry_size;
    return fat_ok;
}

// A short name with an extension was made from a long name with a dot. Parts that lost
// their first (last in name order) piece can look complete when the piece before was full.
bool long_name_fits_extension(const char16_t* long_name, const uint8_t* entry) {
    if (entry[dir_extension] == ' ') {
        return true;
    }
    for (uint32_t i = 0; i < long_name_max_length && long_name[i] != 0; ++i) {
        if (long_name[i] == u'.') {
            return true;
        }
    }
    return false;
}

// Positions the cursor on the next short entry, keeping track of the long-name parts
// before it, live ones by their sequence numbers and deleted ones by their order on disk.
fat_result read_entry(folder_cursor_s& cursor) {
    fat_volume_s& volume = *cursor.volume;
    uint8_t order = 0xFF;  // next live part expected; 0 once part 1 was taken
    uint8_t sum = 0xFF;
    bool live_parts = false;
    cursor.deleted_parts.clear();
    fat_result result = fat_ok;
    while (cursor.sector != 0) {
        result = load_window(volume, cursor.sector);
        if (result != fat_ok) {
            break;
        }
        const uint8_t* entry = volume.window + cursor.entry_offset;
        uint8_t first = entry[dir_name];
        if (first == dir_mark_end) {
            cursor.sector = 0;
            return fat_no_more_entries;
        }
        uint8_t attr = entry[dir_attr] & attr_mask;
        bool deleted = first == dir_mark_deleted;
        cursor.deleted = deleted ? 1 : 0;
        if (attr == attr_long_name) {
            if (deleted) {
                cursor.deleted_parts.add(entry);
                order = 0xFF;
                live_parts = false;
            } else {
                cursor.deleted_parts.clear();
                if (first & lfn_last_part) {
                    sum = entry[lfn_checksum];
                    order = first & ~lfn_last_part;
                    cursor.long_name_index = uint16_t(cursor.index);
                    live_parts = true;
                } else if (first != order) {
                    order = 0xFF;
                }
                if (order != 0xFF && sum == entry[lfn_checksum] &&
                    collect_lfn_part(cursor.long_name_work, entry, order)) {
                    --order;
                } else {
                    order = 0xFF;
                }
            }
        } else if ((!deleted && first == '.') || (attr & attr_volume_label)) {
            order = 0xFF;
            cursor.deleted_parts.clear();
        } else {
            // A short entry: decide whether the parts before it name it.
            cursor.first_byte = -1;
            bool named = false;
            if (!deleted) {
                named = live_parts && order == 0 && sum == sfn_checksum(entry + dir_name);
            } else {
                uint8_t parts_sum = 0;
                bool parts_ok = false;
                if (cursor.deleted_parts.count > 0) {
                    parts_ok = cursor.deleted_parts.assemble(cursor.long_name_work, parts_sum);
                } else if (live_parts && order == 0) {
                    parts_ok = true;  // live parts before a deleted entry: same test
                    parts_sum = sum;
                }
                if (parts_ok && !long_name_fits_extension(cursor.long_name_work, entry)) {
                    parts_ok = false;
                }
                if (parts_ok) {
                    cursor.first_byte = int16_t(restore_first_byte(entry + dir_name, parts_sum));
                    named = cursor.first_byte >= 0;
                }
            }
            if (!named) {
                cursor.long_name_index = no_long_name;
            } else if (deleted) {
                cursor.long_name_index = 0;
            }
            return fat_ok;
        }
        result = advance_entry(cursor);
        if (result != fat_ok) {
            break;
        }
    }
    cursor.sector = 0;
    return result == fat_ok ? fat_no_more_entries : result;
}

// Decodes one part of a short name (body or extension) in the OEM code page.
uint32_t decode_short_part(const uint8_t* bytes, uint32_t length, bool lower, char16_t* out) {
    while (length > 0 && bytes[length - 1] == ' ') {
        --length;
    }
    uint32_t written = 0;
    for (uint32_t i = 0; i < length;) {
        uint16_t code = bytes[i];
        if (oem_lead_byte(bytes[i]) && i + 1 < length && oem_trail_byte(bytes[i + 1])) {
            code = uint16_t((bytes[i] << 8) | bytes[i + 1]);
            i += 2;
        } else {
            ++i;
        }
        char16_t c = char16_t(code);
        if (code >= 0x80) {
            c = oem_to_unicode(code);
            if (c == 0) {
                c = u'?';
            }
        } else if (lower && c >= u'A' && c <= u'Z') {
            c = char16_t(c - u'A' + u'a');
        }
        out[written++] = c;
    }
    return written;
}

void fill_entry_info(folder_cursor_s& cursor, entry_info_s& info) {
    if (info.long_name != nullptr && info.long_name_size > 0) {
        info.long_name[0] = 0;
    }
    if (cursor.sector == 0) {
        info.short_name[0] = 0;
        return;
    }
    const uint8_t* entry = cursor.volume->window + cursor.entry_offset;
    uint8_t flags = entry[dir_case_flags];
    uint8_t body[8];
    std::memcpy(body, entry + dir_name, sizeof(body));
    uint32_t at = 0;
    const uint8_t* body_start = body;
    uint32_t body_length = sizeof(body);
    if (cursor.deleted && cursor.first_byte < 0) {
        // The deletion mark replaced the first byte: it is unknown, not a character.
        info.short_name[at++] = u'#';
        ++body_start;
        --body_length;
    } else {
        if (cursor.deleted) {
            body[0] = uint8_t(cursor.first_byte);
        }
        if (body[0] == dir_mark_e5_stored) {
            body[0] = dir_mark_deleted;
        }
    }
    at += decode_short_part(body_start, body_length, flags & case_lower_body, info.short_name + at);
    const uint8_t* extension = entry + dir_extension;
    if (extension[0] != ' ') {
        info.short_name[at++] = u'.';
        at += decode_short_part(extension, 3, flags & case_lower_extension, info.short_name + at);
    }
    info.short_name[at] = 0;
    if (at == 0) {
        info.short_name[0] = u'_';  // a name of spaces only must not read as the end
        info.short_name[1] = 0;
    }

    info.attr = entry[dir_attr];
    if (cursor.deleted) {
        info.attr |= fat_attr_deleted;
    }
    info.first_cluster = load_u16(entry + dir_cluster_low);
    if (cursor.volume->fs_type == fat_type_32) {
        info.first_cluster |= uint32_t(load_u16(entry + dir_cluster_high)) << 16;
    }
    info.size = load_u32(entry + dir_file_size);
    info.write_date = load_u16(entry + dir_write_date);
    info.write_time = load_u16(entry + dir_write_time);
    info.create_date = load_u16(entry + dir_create_date);
    info.create_time = load_u16(entry + dir_create_time);

    if (info.long_name != nullptr && info.long_name_size > 0 &&
        cursor.long_name_index != no_long_name && cursor.long_name_work[0] != 0) {
        uint32_t length = 0;
        while (length < long_name_max_length && cursor.long_name_work[length] != 0) {
            ++length;
        }
        if (length < info.long_name_size) {
            std::memcpy(info.long_name, cursor.long_name_work, length * sizeof(char16_t));
            info.long_name[length] = 0;
        }
    }
}

bool cursor_valid(const folder_cursor_s& cursor) {
    return cursor.volume != nullptr && cursor.volume->fs_type != fat_type_none &&
           cursor.volume->mount_id == cursor.mount_id;
}

}  // namespace

fat_result f_opendir(folder_cursor_s& cursor, const char* path) {
    cursor.listed_clusters = nullptr;
    fat_volume_s* volume = nullptr;
    fat_result result = mount_volume(path, volume);
    if (result != fat_ok) {
        cursor.volume = nullptr;
        return result;
    }
    cursor.volume = volume;
    if (*path == '/' || *path == '\\') {
        ++path;
    }
    if (*path != 0) {
        cursor.volume = nullptr;  // names below the root are not resolved
        return fat_no_path;
    }
    cursor.start_cluster = 0;
    cursor.mount_id = volume->mount_id;
    result = rewind_folder(cursor);
    if (result == fat_no_more_entries) {
        result = fat_no_path;
    }
    if (result != fat_ok) {
        cursor.volume = nullptr;
    }
    return result;
}

fat_result f_readdir(folder_cursor_s& cursor, entry_info_s* info) {
    if (info != nullptr) {
        info->short_name[0] = 0;
    }
    if (!cursor_valid(cursor)) {
        return fat_invalid_object;
    }
    if (drive_status(cursor.volume->drive) & drive_not_ready) {
        return fat_not_ready;
    }
    if (info == nullptr) {
        return rewind_folder(cursor);
    }
    fat_result result = read_entry(cursor);
    if (result == fat_no_more_entries) {
        cursor.sector = 0;
        fill_entry_info(cursor, *info);
        return fat_ok;
    }
    if (result != fat_ok) {
        return result;
    }
    fill_entry_info(cursor, *info);
    result = advance_entry(cursor);
    if (result == fat_no_more_entries) {
        cursor.sector = 0;
        return fat_ok;
    }
    if (result != fat_ok) {
        cursor.sector = 0;
    }
    return result;
}
