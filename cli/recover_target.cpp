#include "cli/recover_target.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace {

constexpr qsizetype max_name_bytes = 255;
// An extension longer than this is not worth keeping when a name must be shortened.
constexpr qsizetype max_kept_extension = 32;
constexpr uint64_t sysfs_sector_size = 512;

// Cuts `text` to at most `limit` bytes of UTF-8 without splitting a character.
QString cut_utf8(const QString& text, qsizetype limit) {
    QString out;
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < text.size();) {
        qsizetype units = (text[i].isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        qsizetype width = text.mid(i, units).toUtf8().size();
        if (bytes + width > limit) {
            break;
        }
        out += text.mid(i, units);
        bytes += width;
        i += units;
    }
    return out;
}

// Splits "name.ext" into "name" and ".ext"; a leading dot or a long tail is no extension.
void split_extension(const QString& name, QString& stem, QString& extension) {
    qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0 || name.size() - dot > max_kept_extension) {
        stem = name;
        extension.clear();
        return;
    }
    stem = name.left(dot);
    extension = name.mid(dot);
}

// `stem` + `suffix` + `extension` within the byte limit, shortening the stem first.
QString join_within_limit(const QString& stem, const QString& suffix, const QString& extension) {
    qsizetype fixed = suffix.toUtf8().size() + extension.toUtf8().size();
    if (fixed >= max_name_bytes) {
        return cut_utf8(stem + suffix + extension, max_name_bytes);
    }
    return cut_utf8(stem, max_name_bytes - fixed) + suffix + extension;
}

std::string read_line(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

uint64_t read_number(const std::string& path, bool& ok) {
    std::string text = read_line(path);
    ok = !text.empty();
    try {
        return ok ? std::stoull(text) : 0;
    } catch (...) {
        ok = false;
        return 0;
    }
}

std::string canonical_or_same(const std::string& path) {
    std::error_code error;
    std::filesystem::path real = std::filesystem::canonical(path, error);
    return error ? path : real.string();
}

// A byte range of a whole disk device or of an image file that some file system occupies.
struct extent_s {
    std::string owner;  // canonical path of the whole disk node or of the image file
    uint64_t start = 0;
    uint64_t length = 0;  // 0: unknown, taken as the whole owner
};

// The extents of the block device `sys_dir` (a /sys/dev/block/MAJ:MIN directory) on the
// disks and image files below it. Device-mapper and RAID devices lead on to their slaves,
// whose offsets are unknown: those count as the whole slave.
void collect_extents(const std::filesystem::path& sys_dir, uint64_t start, uint64_t length,
                     bool offsets_known, int depth, std::vector<extent_s>& out) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path real = fs::canonical(sys_dir, error);
    if (error || depth > 8) {
        return;
    }
    bool ok = false;
    fs::path disk_dir = real;
    uint64_t part_start = 0;
    if (fs::exists(real / "partition", error)) {
        disk_dir = real.parent_path();
        part_start = read_number((real / "start").string(), ok) * sysfs_sector_size;
        if (!ok) {
            offsets_known = false;
        }
    }
    uint64_t own_size = read_number((real / "size").string(), ok) * sysfs_sector_size;
    if (length == 0) {
        length = ok ? own_size : 0;
    }
    start += part_start;
    if (!offsets_known) {
        start = 0;
        length = 0;
    }

    std::string backing = read_line((disk_dir / "loop" / "backing_file").string());
    if (!backing.empty()) {
        uint64_t loop_offset = read_number((disk_dir / "loop" / "offset").string(), ok);
        out.push_back(
            {canonical_or_same(backing), offsets_known ? start + loop_offset : 0, length});
    }
    out.push_back({canonical_or_same("/dev/" + disk_dir.filename().string()), start, length});

    for (const fs::path& holder_dir : {real / "slaves", disk_dir / "slaves"}) {
        if (!fs::is_directory(holder_dir, error)) {
            continue;
        }
        for (const fs::directory_entry& slave : fs::directory_iterator(holder_dir, error)) {
            collect_extents(slave.path(), 0, 0, false, depth + 1, out);
        }
        break;
    }
}

// Mount source of the file system that holds `path`, from /proc/self/mountinfo: the
// longest mount point that is a prefix of the path. Empty when none is a block device.
std::string mount_source_of(const std::string& path) {
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    std::string best_point;
    std::string best_source;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, dev, root, point, field;
        fields >> id >> parent >> dev >> root >> point;
        while (fields >> field && field != "-") {
        }
        std::string type, source;
        fields >> type >> source;
        bool prefix =
            path == point || point == "/" ||
            (path.rfind(point, 0) == 0 && path.size() > point.size() && path[point.size()] == '/');
        if (prefix && point.size() >= best_point.size()) {
            best_point = point;
            best_source = source;
        }
    }
    return best_source;
}

bool overlaps(const extent_s& extent, uint64_t start, uint64_t length) {
    if (extent.length == 0 || length == 0) {
        return true;
    }
    return extent.start < start + length && start < extent.start + extent.length;
}

}  // namespace

QString safe_file_name(const QString& untrusted) {
    QString name;
    name.reserve(untrusted.size());
    for (QChar c : untrusted) {
        char16_t u = c.unicode();
        bool forbidden = u < 0x20 || u == 0x7F || u == u'/' || u == u'\\';
        name += forbidden ? QChar(u'_') : c;
    }
    if (name.isEmpty()) {
        name = QStringLiteral("_");
    }
    if (name == QStringLiteral(".") || name == QStringLiteral("..")) {
        name.replace(u'.', u'_');
    }
    if (name.toUtf8().size() > max_name_bytes) {
        QString stem;
        QString extension;
        split_extension(name, stem, extension);
        name = join_within_limit(stem, QString(), extension);
    }
    return name;
}

QString unique_target_path(const QString& dir, const QString& name) {
    auto taken = [](const QString& path) {
        struct stat info {};
        return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
    };
    QString first = dir + u'/' + name;
    if (!taken(first)) {
        return first;
    }
    QString stem;
    QString extension;
    split_extension(name, stem, extension);
    for (int n = 2;; ++n) {
        QString candidate =
            dir + u'/' + join_within_limit(stem, QStringLiteral(" (%1)").arg(n), extension);
        if (!taken(candidate)) {
            return candidate;
        }
    }
}

int check_target_dir(const QString& dir, const std::string& source_disk_path, uint64_t source_start,
                     uint64_t source_length, std::string& why) {
    namespace fs = std::filesystem;
    // The folder may not exist yet: judge by its nearest existing ancestor.
    fs::path probe = fs::absolute(fs::path(QFile::encodeName(dir).toStdString()));
    std::error_code error;
    while (!fs::exists(probe, error) && probe.has_parent_path() && probe.parent_path() != probe) {
        probe = probe.parent_path();
    }
    std::string existing = canonical_or_same(probe.string());

    std::set<std::string> devices;  // /sys/dev/block entries of the folder's file system
    struct stat info {};
    if (::stat(existing.c_str(), &info) == 0) {
        devices.insert("/sys/dev/block/" + std::to_string(major(info.st_dev)) + ":" +
                       std::to_string(minor(info.st_dev)));
    }
    // Some file systems (btrfs) report an anonymous device: the mount source tells more.
    std::string source = mount_source_of(existing);
    struct stat source_info {};
    if (!source.empty() && ::stat(source.c_str(), &source_info) == 0 &&
        S_ISBLK(source_info.st_mode)) {
        devices.insert("/sys/dev/block/" + std::to_string(major(source_info.st_rdev)) + ":" +
                       std::to_string(minor(source_info.st_rdev)));
    }

    std::vector<extent_s> extents;
    for (const std::string& device : devices) {
        if (fs::exists(device, error)) {
            collect_extents(device, 0, 0, true, 0, extents);
        }
    }
    std::string scanned = canonical_or_same(source_disk_path);
    for (const extent_s& extent : extents) {
        if (extent.owner == scanned && overlaps(extent, source_start, source_length)) {
            why = "the folder " + existing + " lies on the volume being scanned (" +
                  source_disk_path +
                  "); writing there could overwrite the deleted files. Choose a folder on "
                  "another disk, or pass --force if you are sure";
            return -1;
        }
    }
    return 0;
}
