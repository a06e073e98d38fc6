#include "discovery/volume_item.h"

#include <algorithm>

#include "platform/platform_backend.h"

QList<volume_item_s> volume_list;

volume_item_s volume_item_from_probe(const volume_probe_s& probe) {
    volume_item_s item;
    item.device_name = QString::fromStdString(probe.device_name);
    item.volume_path = QString::fromStdString(probe.volume_path);
    item.label = QString::fromStdString(probe.label);
    item.file_system = QString::fromStdString(probe.file_system);
    item.root_path = QString::fromStdString(probe.root_path);
    item.total_bytes = probe.total_bytes;
    item.free_bytes = probe.free_bytes;
    item.partition_number = probe.partition_number;
    item.disk_number = probe.disk_number;
    return item;
}

int enumerate_volumes() {
    volume_list.clear();
    int status = 0;
    std::vector<volume_probe_s> probes = list_volumes(&status);
    if (status != 0 && probes.empty()) {
        return -1;
    }
    std::vector<volume_item_s> items;
    for (const volume_probe_s& probe : probes) {
        if (probe.partition_number < 0 || probe.disk_number < 0) {
            continue;
        }
        items.push_back(volume_item_from_probe(probe));
    }
    // Ascending by root path, compared by UTF-16 code units.
    std::stable_sort(
        items.begin(), items.end(),
        [](const volume_item_s& a, const volume_item_s& b) { return a.root_path < b.root_path; });
    volume_list.append(volume_item_s{});
    for (const volume_item_s& item : items) {
        volume_list.append(item);
    }
    return 0;
}
