// `partitions`: the lost-partition search over a disk or image, and the table repair.

#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>

#include "cli/commands.h"
#include "discovery/drive_item.h"
#include "i18n/format_size.h"
#include "partitions/partition_repair.h"
#include "platform/platform_backend.h"

namespace {

constexpr auto poll_interval = std::chrono::milliseconds(200);
constexpr uint64_t sector_bytes = 512;
constexpr int usage_error = 2;
constexpr int work_failed = 1;

struct partitions_args_s {
    std::string disk;
    bool json = false;
    bool repair = false;
    bool yes = false;
};

int parse_args(const std::vector<std::string>& args, partitions_args_s& out) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--json") {
            out.json = true;
        } else if (arg == "--repair") {
            out.repair = true;
        } else if (arg == "--yes") {
            out.yes = true;
        } else if (arg == "--image" && i + 1 < args.size()) {
            if (add_image(args[++i]) != 0) {
                std::fprintf(stderr,
                             "quarnel-cli: cannot read the image '%s' (is it a regular file you "
                             "may read?)\n",
                             args[i].c_str());
                return work_failed;
            }
        } else if (!arg.empty() && arg[0] != '-' && out.disk.empty()) {
            out.disk = arg;
        } else {
            std::fprintf(stderr, "quarnel-cli partitions: unexpected argument '%s'\n", arg.c_str());
            return usage_error;
        }
    }
    if (out.disk.empty()) {
        std::fprintf(stderr, "quarnel-cli partitions: name the disk or image to search\n");
        return usage_error;
    }
    if (out.yes && !out.repair) {
        std::fprintf(stderr, "quarnel-cli partitions: --yes only goes with --repair\n");
        return usage_error;
    }
    return 0;
}

uint64_t partition_bytes(const partition_item_s& item) {
    return (item.end_sector - item.start_sector + 1) * sector_bytes;
}

void print_row(qsizetype number, const partition_item_s& item) {
    std::printf("%-4lld %-6s %14llu %14llu %10s\n", static_cast<long long>(number),
                item.fs_name.toUtf8().constData(),
                static_cast<unsigned long long>(item.start_sector),
                static_cast<unsigned long long>(item.end_sector),
                format_size(partition_bytes(item)).toUtf8().constData());
    std::fflush(stdout);
}

bool all_digits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The disk as `disks` lists it (its number or its path), or an image file given by any path.
int describe_disk(const std::string& path, drive_item_s& drive) {
    std::string name = path;
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec)) {
        name = std::filesystem::absolute(path, ec).lexically_normal().string();
    } else if (all_digits(path) && !std::filesystem::exists(path, ec)) {
        enumerate_drives();
        qsizetype number = path.size() < 6 ? std::stoi(path) : -1;
        if (number < 0 || number + 1 >= drive_list.size()) {
            std::fprintf(stderr,
                         "quarnel-cli partitions: there is no disk number %s (see quarnel-cli "
                         "disks)\n",
                         path.c_str());
            return -1;
        }
        drive = drive_list[number + 1];  // element 0 is the header row
        return 0;
    }
    disk_probe_s probe;
    if (platform().query_disk(name, probe) != 0) {
        std::fprintf(stderr,
                     "quarnel-cli partitions: cannot open '%s' (is it a disk or image you may "
                     "read? raw disks need root)\n",
                     path.c_str());
        return -1;
    }
    drive.name = QString::fromStdString(probe.path);
    drive.size = probe.size;
    drive.geometry = probe.geometry;
    return 0;
}

// Asks on the terminal; anything but an answer starting with y means no.
bool confirmed(const std::string& disk) {
    if (!isatty(STDIN_FILENO)) {
        std::fprintf(stderr,
                     "quarnel-cli partitions: not writing without confirmation; run on a "
                     "terminal or add --yes\n");
        return false;
    }
    std::fprintf(stderr,
                 "Quarnel will write a new partition table with the partitions found to the "
                 "first sector of %s. This changes the disk.\n"
                 "Unmount its volumes first; the old first sector is saved to a backup file.\n"
                 "Do you want to continue? [y/N] ",
                 disk.c_str());
    std::string answer;
    std::getline(std::cin, answer);
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

}  // namespace

int cmd_partitions(const std::vector<std::string>& args) {
    partitions_args_s options;
    if (int status = parse_args(args, options)) {
        return status;
    }
    drive_item_s drive;
    if (describe_disk(options.disk, drive) != 0) {
        return work_failed;
    }

    partition_repair_c search;
    search.set_drive(drive);
    search.start();
    bool progress_on_terminal = isatty(STDERR_FILENO) != 0;
    if (!options.json) {
        std::printf("%-4s %-6s %14s %14s %10s\n", "#", "FS", "FIRST", "LAST", "SIZE");
    }
    qsizetype shown = 0;
    int last_percent = -1;
    auto report = [&] {
        QList<partition_item_s> found = search.partitions();
        for (; shown < found.size(); ++shown) {
            if (!options.json) {
                print_row(shown, found[shown]);
            }
        }
        int percent = static_cast<int>(search.progress() * 100);
        // A terminal gets every step in place; a log gets one line per tenth.
        int step = progress_on_terminal ? percent : percent / 10 * 10;
        if (step != last_percent) {
            std::fprintf(stderr, progress_on_terminal ? "\rsearching: %3d%%" : "searching: %d%%\n",
                         step);
            last_percent = step;
        }
    };
    while (!search.wait(QDeadlineTimer(poll_interval.count()))) {
        report();
    }
    report();
    if (progress_on_terminal) {
        std::fputc('\n', stderr);
    }
    if (search.search_status() < 0) {
        std::fprintf(stderr, "quarnel-cli partitions: cannot read '%s'\n", options.disk.c_str());
        return work_failed;
    }

    QList<partition_item_s> found = search.partitions();
    QJsonObject repair;
    int status = 0;
    if (options.repair) {
        if (found.isEmpty()) {
            std::fprintf(stderr,
                         "quarnel-cli partitions: nothing was found; not writing an "
                         "empty partition table\n");
            repair["written"] = false;
            repair["message"] = "nothing was found";
            status = work_failed;
        } else if (options.yes || confirmed(drive.name.toStdString())) {
            int result = search.write_partition_table();
            const repair_report_s& done = search.last_repair();
            repair["written"] = result == 0;
            repair["backup"] = QString::fromStdString(done.backup_path);
            repair["message"] = QString::fromStdString(done.message);
            if (!done.backup_path.empty()) {
                std::fprintf(stderr, "old first sector saved to %s\n", done.backup_path.c_str());
            }
            if (result != 0) {
                std::fprintf(stderr, "quarnel-cli partitions: the repair failed: %s\n",
                             done.message.c_str());
                status = work_failed;
            } else {
                if (!done.message.empty()) {
                    std::fprintf(stderr, "warning: %s\n", done.message.c_str());
                }
                std::fprintf(stderr, "partition table written to %s\n",
                             drive.name.toUtf8().constData());
            }
        } else {
            repair["written"] = false;
            repair["message"] = "not confirmed";
            status = work_failed;
        }
    }

    if (options.json) {
        QJsonArray list;
        for (qsizetype i = 0; i < found.size(); ++i) {
            const partition_item_s& item = found[i];
            QJsonObject o;
            o["number"] = static_cast<qint64>(i);
            o["file_system"] = item.fs_name;
            o["type"] = item.partition_type;
            o["start_sector"] = static_cast<qint64>(item.start_sector);
            o["end_sector"] = static_cast<qint64>(item.end_sector);
            o["size"] = static_cast<qint64>(partition_bytes(item));
            list.append(o);
        }
        QJsonObject top{
            {"disk", drive.name}, {"size", static_cast<qint64>(drive.size)}, {"partitions", list}};
        if (options.repair) {
            top["repair"] = repair;
        }
        std::fputs(QJsonDocument(top).toJson(QJsonDocument::Indented).constData(), stdout);
    }
    return status;
}
