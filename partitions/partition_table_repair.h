#pragma once

#include <string>
#include <vector>

#include "partitions/chs_address.h"
#include "partitions/partition_item.h"

// What a repair did, for the user.
struct repair_report_s {
    std::string backup_path;  // the copy of the replaced sector; empty when none was made
    std::string message;      // why it failed, or a warning after success
};

// Writes a new first sector to `disk_path` from the found partitions: opens the disk
// exclusively, reads sectors 0 and 1, builds the new table (refusing GPT disks, empty and
// overfull tables), saves the old sector to a backup file, writes the new one, reads it back
// and compares, then asks the kernel to re-read the table. Returns 0 when the sector was
// written and verified (report.message may still hold a warning), -1 otherwise; nothing is
// written unless the backup was saved.
int repair_partition_table(const std::string& disk_path, const std::vector<partition_item_s>& found,
                           const chs_geometry_s& geometry, repair_report_s& report);
