#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <cstdint>

// One volume the user can scan. The first element of volume_list is an empty header row.
struct volume_item_s {
    QString device_name;
    QString volume_path;
    QString label;
    QString file_system;
    QString root_path;
    uint64_t total_bytes = 0;
    uint64_t free_bytes = 0;
    int32_t partition_number = 0;
    int32_t disk_number = 0;
};
Q_DECLARE_METATYPE(volume_item_s)

struct volume_probe_s;
// The record of one volume as the platform layer found it.
volume_item_s volume_item_from_probe(const volume_probe_s& probe);

// Process-wide volume list; element 0 is the header row.
extern QList<volume_item_s> volume_list;

// Rebuilds volume_list from nothing. 0 when the enumeration ran, -1 when it could not start
// (the list is then empty, without the header row).
int enumerate_volumes();
