#pragma once

// Result codes of every FAT reader operation.
enum fat_result : int {
    fat_ok = 0,
    fat_disk_error = 1,       // a sector read failed
    fat_internal_error = 2,   // a cluster number outside the volume or a broken chain
    fat_not_ready = 3,        // the drive is marked not ready
    fat_no_more_entries = 4,  // end of a folder or of a chain
    fat_no_path = 5,          // the path is not a folder
    fat_denied = 7,           // the file cursor is not open for reading
    fat_invalid_object = 9,   // cursor without a mounted volume, or from an earlier mount
    fat_invalid_drive = 11,   // logical drive number above 9
    fat_no_volume_attached = 12,
    fat_no_file_system = 13,
    fat_out_of_memory = 17,
};
