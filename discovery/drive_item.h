#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <cstdint>
#include <optional>

#include "platform/platform_backend.h"

// One physical disk (or disk image). The first element of drive_list is an empty header row.
struct drive_item_s {
    QString name;  // device node or image path; empty only in the header row
    uint64_t size = 0;
    std::optional<disk_geometry_s> geometry;  // absent only in the header row
};
Q_DECLARE_METATYPE(drive_item_s)

// Process-wide disk list; element 0 is the header row.
extern QList<drive_item_s> drive_list;

// Rebuilds drive_list from nothing. Always returns 0.
int enumerate_drives();
