#include "platform/linux_backend.h"

#include <blkid/blkid.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include "platform/file_source.h"

namespace {

constexpr uint32_t default_heads = 255;
constexpr uint32_t default_sectors_per_track = 63;
constexpr uint32_t image_sector_size = 512;
constexpr uint32_t media_removable = 11;  // the geometry's media-type codes
constexpr uint32_t media_fixed = 12;
constexpr uint64_t blkid_sector = 512;  // libblkid gives partition extents in 512-byte units

std::string read_sys_text(const std::string& path) {
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    return text;
}

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool starts_with(const std::string& text, const std::string& head) {
    return text.rfind(head, 0) == 0;
}

// Block devices that cannot hold a user's volume: RAM disks, optical drives, unbacked
// loop devices and loop devices that carry read-only package images.
bool listable_block_device(const std::string& name) {
    for (const char* skip : {"ram", "zram", "sr"}) {
        if (starts_with(name, skip)) {
            return false;
        }
    }
    if (starts_with(name, "loop")) {
        std::string backing = read_sys_text("/sys/block/" + name + "/loop/backing_file");
        if (backing.empty() || ends_with(backing, ".snap") || ends_with(backing, ".squashfs")) {
            return false;
        }
    }
    std::string sectors = read_sys_text("/sys/block/" + name + "/size");
    return !sectors.empty() && sectors != "0";
}

// "\040" and friends in the mount table.
std::string unescape_mount_field(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() &&
            std::isdigit(static_cast<unsigned char>(field[i + 1]))) {
            out += static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

// First mount point of the device with number `dev`, or "".
std::string first_mount_point(dev_t dev) {
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    std::string wanted = std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, numbers, root, mount_point;
        fields >> id >> parent >> numbers >> root >> mount_point;
        if (numbers == wanted) {
            return unescape_mount_field(mount_point);
        }
    }
    return {};
}

std::string file_system_name(const std::string& type, const std::string& version) {
    if (type == "ntfs") {
        return "NTFS";
    }
    if (type == "vfat") {
        return version == "FAT32" ? "FAT32" : "FAT";
    }
    if (type == "exfat") {
        return "exFAT";
    }
    std::string upper = type;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

struct fs_identity_s {
    std::string type;
    std::string label;
};

fs_identity_s probe_file_system(int fd, uint64_t offset, uint64_t length) {
    fs_identity_s id;
    blkid_probe probe = blkid_new_probe();
    if (!probe) {
        return id;
    }
    if (blkid_probe_set_device(probe, fd, static_cast<blkid_loff_t>(offset),
                               static_cast<blkid_loff_t>(length)) == 0) {
        blkid_probe_enable_superblocks(probe, 1);
        blkid_probe_set_superblocks_flags(
            probe, BLKID_SUBLKS_TYPE | BLKID_SUBLKS_LABEL | BLKID_SUBLKS_VERSION);
        blkid_probe_enable_partitions(probe, 0);
        if (blkid_do_safeprobe(probe) == 0) {
            const char* value = nullptr;
            std::string type, version;
            if (blkid_probe_lookup_value(probe, "TYPE", &value, nullptr) == 0) {
                type = value;
            }
            if (blkid_probe_lookup_value(probe, "VERSION", &value, nullptr) == 0) {
                version = value;
            }
            if (blkid_probe_lookup_value(probe, "LABEL", &value, nullptr) == 0) {
                id.label = value;
            }
            id.type = type.empty() ? std::string() : file_system_name(type, version);
        }
    }
    blkid_free_probe(probe);
    return id;
}

struct part_extent_s {
    int32_t number;
    uint64_t start;
    uint64_t length;
};

// Partitions of the table at the start of the device; extended containers left out.
std::vector<part_extent_s> probe_partitions(int fd, uint64_t size) {
    std::vector<part_extent_s> parts;
    blkid_probe probe = blkid_new_probe();
    if (!probe) {
        return parts;
    }
    if (blkid_probe_set_device(probe, fd, 0, static_cast<blkid_loff_t>(size)) == 0) {
        blkid_probe_enable_superblocks(probe, 0);
        blkid_probe_enable_partitions(probe, 1);
        blkid_partlist list = blkid_probe_get_partitions(probe);
        int count = list ? blkid_partlist_numof_partitions(list) : 0;
        for (int i = 0; i < count; ++i) {
            blkid_partition part = blkid_partlist_get_partition(list, i);
            if (!part || blkid_partition_is_extended(part)) {
                continue;
            }
            blkid_loff_t start = blkid_partition_get_start(part);
            blkid_loff_t length = blkid_partition_get_size(part);
            if (start < 0 || length <= 0) {
                continue;
            }
            parts.push_back({blkid_partition_get_partno(part),
                             static_cast<uint64_t>(start) * blkid_sector,
                             static_cast<uint64_t>(length) * blkid_sector});
        }
    }
    blkid_free_probe(probe);
    return parts;
}

// The kernel's device node for partition `number` of disk `disk_node`, or "".
std::string partition_node(const std::string& disk_node, int32_t number) {
    std::string name = disk_node.substr(disk_node.rfind('/') + 1);
    std::string dir = "/sys/block/" + name;
    DIR* folder = opendir(dir.c_str());
    if (!folder) {
        return {};
    }
    std::string node;
    while (dirent* entry = readdir(folder)) {
        std::string child = entry->d_name;
        if (!starts_with(child, name)) {
            continue;
        }
        if (read_sys_text(dir + "/" + child + "/partition") == std::to_string(number)) {
            node = "/dev/" + child;
            break;
        }
    }
    closedir(folder);
    return node;
}

void fill_mount_and_sizes(volume_probe_s& volume, const std::string& node) {
    volume.root_path = volume.device_name;
    volume.total_bytes = volume.length;
    volume.free_bytes = 0;
    struct stat st {};
    if (node.empty() || stat(node.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) {
        return;
    }
    std::string mount_point = first_mount_point(st.st_rdev);
    if (mount_point.empty()) {
        return;
    }
    volume.root_path = mount_point;
    struct statvfs fs {};
    if (statvfs(mount_point.c_str(), &fs) == 0) {
        volume.total_bytes = static_cast<uint64_t>(fs.f_blocks) * fs.f_frsize;
        volume.free_bytes = static_cast<uint64_t>(fs.f_bfree) * fs.f_frsize;
    }
}

}  // namespace

int linux_backend_c::disk_paths(std::vector<std::string>& out) {
    out.clear();
    int status = 0;
    DIR* folder = opendir("/sys/block");
    if (folder) {
        std::vector<std::string> names;
        while (dirent* entry = readdir(folder)) {
            std::string name = entry->d_name;
            if (name[0] != '.' && listable_block_device(name)) {
                names.push_back(name);
            }
        }
        closedir(folder);
        std::sort(names.begin(), names.end(), natural_name_less);
        for (const std::string& name : names) {
            out.push_back("/dev/" + name);
        }
    } else {
        status = -1;
    }
    for (const std::string& image : image_paths()) {
        out.push_back(image);
    }
    return status;
}

int linux_backend_c::query_disk(const std::string& path, disk_probe_s& out) {
    std::unique_ptr<file_source_c> source = file_source_c::open(path);
    if (!source || source->size() == 0) {
        return -1;
    }
    out = disk_probe_s{};
    out.path = path;
    out.size = source->size();
    out.is_image = !source->is_block_device();
    disk_geometry_s& g = out.geometry;
    g.bytes_per_sector = image_sector_size;
    g.tracks_per_cylinder = default_heads;
    g.sectors_per_track = default_sectors_per_track;
    g.media_type = media_fixed;
    if (source->is_block_device()) {
        int logical = 0;
        if (ioctl(source->fd(), BLKSSZGET, &logical) == 0 && logical > 0) {
            g.bytes_per_sector = static_cast<uint32_t>(logical);
        }
        hd_geometry geo{};
        if (ioctl(source->fd(), HDIO_GETGEO, &geo) == 0 && geo.heads > 0 && geo.sectors > 0) {
            g.tracks_per_cylinder = geo.heads;
            g.sectors_per_track = geo.sectors;
        }
        std::string name = path.substr(path.rfind('/') + 1);
        if (read_sys_text("/sys/block/" + name + "/removable") == "1") {
            g.media_type = media_removable;
        }
    }
    // Always computed: the kernel's cylinder field is only 16 bits wide.
    uint64_t per_cylinder =
        uint64_t{g.bytes_per_sector} * g.tracks_per_cylinder * g.sectors_per_track;
    g.cylinders = static_cast<int64_t>(out.size / per_cylinder);
    return 0;
}

std::vector<volume_probe_s> linux_backend_c::volumes_of(const disk_probe_s& disk,
                                                        int32_t disk_number) {
    std::vector<volume_probe_s> volumes;
    std::unique_ptr<file_source_c> source = file_source_c::open(disk.path);
    if (!source) {
        return volumes;
    }
    int fd = source->fd();
    std::vector<part_extent_s> parts = probe_partitions(fd, source->size());
    if (parts.empty()) {
        // No table: the whole disk or image is one volume, even with no file system left
        // (a wiped card is still worth a deep scan).
        fs_identity_s id = probe_file_system(fd, 0, source->size());
        volume_probe_s v;
        v.device_name = disk.path;
        v.volume_path = disk.path;
        v.label = id.label;
        v.file_system = id.type;
        v.partition_number = 0;
        v.disk_number = disk_number;
        v.start_offset = 0;
        v.length = source->size();
        fill_mount_and_sizes(v, disk.is_image ? std::string() : disk.path);
        volumes.push_back(v);
        return volumes;
    }
    for (const part_extent_s& part : parts) {
        std::string node = disk.is_image ? std::string() : partition_node(disk.path, part.number);
        fs_identity_s id = probe_file_system(fd, part.start, part.length);
        volume_probe_s v;
        v.device_name = node.empty() ? disk.path + "@" + std::to_string(part.number) : node;
        v.volume_path = v.device_name;
        v.label = id.label;
        v.file_system = id.type;
        v.partition_number = part.number;
        v.disk_number = disk_number;
        v.start_offset = part.start;
        v.length = part.length;
        fill_mount_and_sizes(v, node);
        volumes.push_back(v);
    }
    return volumes;
}

std::unique_ptr<block_source_c> linux_backend_c::open_read(const std::string& path) {
    return file_source_c::open(path);
}
