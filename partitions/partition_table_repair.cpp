#include "partitions/partition_table_repair.h"

#include "partitions/disk_writer.h"
#include "partitions/partition_table.h"
#include "partitions/sector_backup.h"

int repair_partition_table(const std::string& disk_path, const std::vector<partition_item_s>& found,
                           const chs_geometry_s& geometry, repair_report_s& report) {
    report = repair_report_s{};
    if (found.empty()) {
        report.message = "no partition was found; an empty table would help nothing";
        return -1;
    }
    std::unique_ptr<disk_writer_c> disk = disk_writer_c::open(disk_path, report.message);
    if (!disk) {
        return -1;
    }
    partition_table_input_s input;
    input.found = found;
    input.disk_sectors = disk->size() / sizeof(sector_bytes_t);
    input.geometry = geometry;
    if (disk->read_sector(0, input.old_sector) != 0 ||
        disk->read_sector(1, input.next_sector) != 0) {
        report.message = "cannot read the first sectors of " + disk_path;
        return -1;
    }
    sector_bytes_t fresh{};
    if (build_partition_sector(input, fresh, report.message) != 0) {
        return -1;
    }
    if (save_sector_backup(disk_path, input.old_sector, report.backup_path, report.message) != 0) {
        return -1;
    }
    if (disk->write_sector_verified(0, fresh, report.message) != 0) {
        return -1;
    }
    disk->reread_partition_table(report.message);  // a warning only: the table is written
    return 0;
}
