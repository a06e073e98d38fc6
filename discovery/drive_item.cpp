#include "discovery/drive_item.h"

QList<drive_item_s> drive_list;

int enumerate_drives() {
    drive_list.clear();
    drive_list.append(drive_item_s{});
    // Every disk that answers is kept: Linux names have no numbered gaps to stop at.
    for (const disk_probe_s& disk : list_disks()) {
        drive_item_s item;
        item.name = QString::fromStdString(disk.path);
        item.size = disk.size;
        item.geometry = disk.geometry;
        drive_list.append(item);
    }
    return 0;
}
