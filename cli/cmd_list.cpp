// `disks` and `volumes`: the two discovery lists, header row left out.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

#include "cli/commands.h"
#include "discovery/drive_item.h"
#include "discovery/volume_item.h"
#include "i18n/format_size.h"
#include "platform/platform_backend.h"

namespace {

struct list_args_s {
    bool json = false;
};

// Parses --image FILE... and --json. Returns 0, 1 (bad image) or 2 (usage).
int parse_list_args(const std::vector<std::string>& args, list_args_s& out, const char* name) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--json") {
            out.json = true;
        } else if (args[i] == "--image" && i + 1 < args.size()) {
            if (add_image(args[++i]) != 0) {
                std::fprintf(stderr,
                             "quarnel-cli: cannot read the image '%s' (is it a regular file you "
                             "may read?)\n",
                             args[i].c_str());
                return 1;
            }
        } else {
            std::fprintf(stderr, "quarnel-cli %s: unexpected argument '%s'\n", name,
                         args[i].c_str());
            return 2;
        }
    }
    return 0;
}

void print_json(const QJsonObject& object) {
    std::fputs(QJsonDocument(object).toJson(QJsonDocument::Indented).constData(), stdout);
}

}  // namespace

int cmd_disks(const std::vector<std::string>& args) {
    list_args_s options;
    if (int status = parse_list_args(args, options, "disks")) {
        return status;
    }
    enumerate_drives();
    if (options.json) {
        QJsonArray disks;
        for (qsizetype i = 1; i < drive_list.size(); ++i) {
            const drive_item_s& d = drive_list[i];
            QJsonObject o;
            o["number"] = static_cast<qint64>(i - 1);
            o["name"] = d.name;
            o["size"] = static_cast<qint64>(d.size);
            o["bytes_per_sector"] = static_cast<qint64>(d.geometry->bytes_per_sector);
            o["sectors_per_track"] = static_cast<qint64>(d.geometry->sectors_per_track);
            o["tracks_per_cylinder"] = static_cast<qint64>(d.geometry->tracks_per_cylinder);
            o["cylinders"] = static_cast<qint64>(d.geometry->cylinders);
            o["image"] = !d.name.startsWith("/dev/");
            disks.append(o);
        }
        print_json(QJsonObject{{"disks", disks}});
        return 0;
    }
    std::printf("%-4s %-40s %14s %10s\n", "#", "DISK", "BYTES", "SIZE");
    for (qsizetype i = 1; i < drive_list.size(); ++i) {
        const drive_item_s& d = drive_list[i];
        std::printf("%-4lld %-40s %14llu %10s\n", static_cast<long long>(i - 1),
                    d.name.toUtf8().constData(), static_cast<unsigned long long>(d.size),
                    format_size(d.size).toUtf8().constData());
    }
    return 0;
}

int cmd_volumes(const std::vector<std::string>& args) {
    list_args_s options;
    if (int status = parse_list_args(args, options, "volumes")) {
        return status;
    }
    if (enumerate_volumes() != 0) {
        std::fprintf(stderr, "quarnel-cli volumes: the system's disks cannot be listed\n");
        return 1;
    }
    if (options.json) {
        QJsonArray volumes;
        for (qsizetype i = 1; i < volume_list.size(); ++i) {
            const volume_item_s& v = volume_list[i];
            QJsonObject o;
            o["device_name"] = v.device_name;
            o["volume_path"] = v.volume_path;
            o["label"] = v.label;
            o["file_system"] = v.file_system;
            o["root_path"] = v.root_path;
            o["total_bytes"] = static_cast<qint64>(v.total_bytes);
            o["free_bytes"] = static_cast<qint64>(v.free_bytes);
            o["partition_number"] = v.partition_number;
            o["disk_number"] = v.disk_number;
            volumes.append(o);
        }
        print_json(QJsonObject{{"volumes", volumes}});
        return 0;
    }
    std::printf("%-4s %-4s %-7s %-16s %10s %10s  %s\n", "DISK", "PART", "FS", "LABEL", "SIZE",
                "FREE", "VOLUME PATH (ROOT)");
    for (qsizetype i = 1; i < volume_list.size(); ++i) {
        const volume_item_s& v = volume_list[i];
        QString where = v.volume_path;
        if (v.root_path != v.volume_path) {
            where += " (" + v.root_path + ")";
        }
        std::printf("%-4d %-4d %-7s %-16s %10s %10s  %s\n", v.disk_number, v.partition_number,
                    v.file_system.isEmpty() ? "-" : v.file_system.toUtf8().constData(),
                    v.label.toUtf8().constData(), format_size(v.total_bytes).toUtf8().constData(),
                    format_size(v.free_bytes).toUtf8().constData(), where.toUtf8().constData());
    }
    return 0;
}
