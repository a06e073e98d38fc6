#include "partitions/disk_writer.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace {

constexpr uint64_t sector_size = 512;

std::string errno_text() {
    return std::strerror(errno);
}

// A partition device (sda1) has a "partition" file in sysfs; writing an MBR there would
// land inside a volume.
bool is_partition_device(const struct stat& st) {
    std::string sys = "/sys/dev/block/" + std::to_string(major(st.st_rdev)) + ":" +
                      std::to_string(minor(st.st_rdev)) + "/partition";
    return access(sys.c_str(), F_OK) == 0;
}

// The loop device that has this image file attached, or "" when none has.
std::string attached_loop_device(const struct stat& image) {
    DIR* dir = opendir("/sys/block");
    if (dir == nullptr) {
        return "";
    }
    std::string found;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.rfind("loop", 0) != 0) {
            continue;
        }
        std::ifstream backing("/sys/block/" + name + "/loop/backing_file");
        std::string path;
        struct stat st {};
        if (std::getline(backing, path) && stat(path.c_str(), &st) == 0 &&
            st.st_dev == image.st_dev && st.st_ino == image.st_ino) {
            found = "/dev/" + name;
            break;
        }
    }
    closedir(dir);
    return found;
}

}  // namespace

std::unique_ptr<disk_writer_c> disk_writer_c::open(const std::string& path, std::string& error) {
    int fd = ::open(path.c_str(), O_RDWR | O_EXCL | O_CLOEXEC);
    if (fd < 0) {
        error = errno == EBUSY ? path +
                                     " is in use (is one of its partitions mounted?); "
                                     "unmount every partition of the disk first"
                               : "cannot open " + path + " for writing: " + errno_text();
        return nullptr;
    }
    auto fail = [&](const std::string& why) {
        error = why;
        ::close(fd);
        return nullptr;
    };
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        return fail("cannot examine " + path + ": " + errno_text());
    }
    uint64_t size = 0;
    bool block = S_ISBLK(st.st_mode);
    if (block) {
        if (is_partition_device(st)) {
            return fail(path + " is a partition; give the whole disk it belongs to");
        }
        if (ioctl(fd, BLKGETSIZE64, &size) != 0) {
            return fail("cannot read the size of " + path + ": " + errno_text());
        }
    } else if (S_ISREG(st.st_mode)) {
        // Other programs of ours hold no write lock, but two repairs must not race.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            return fail(path + " is locked by another program");
        }
        std::string loop = attached_loop_device(st);
        if (!loop.empty()) {
            return fail(path + " is attached to " + loop + "; detach it first (losetup -d " + loop +
                        ")");
        }
        size = static_cast<uint64_t>(st.st_size);
    } else {
        return fail(path + " is neither a disk nor a disk image");
    }
    if (size < 2 * sector_size) {
        return fail(path + " is too small to hold a partition table");
    }
    return std::unique_ptr<disk_writer_c>(new disk_writer_c(fd, size, block));
}

disk_writer_c::disk_writer_c(int fd, uint64_t size, bool block_device)
    : fd_(fd), size_(size), block_device_(block_device) {}

disk_writer_c::~disk_writer_c() {
    ::close(fd_);
}

int disk_writer_c::read_sector(uint64_t lba, sector_bytes_t& out) {
    ssize_t got = pread(fd_, out.data(), out.size(), static_cast<off_t>(lba * sector_size));
    return got == static_cast<ssize_t>(out.size()) ? 0 : -1;
}

int disk_writer_c::write_sector_verified(uint64_t lba, const sector_bytes_t& bytes,
                                         std::string& error) {
    auto offset = static_cast<off_t>(lba * sector_size);
    ssize_t put = pwrite(fd_, bytes.data(), bytes.size(), offset);
    if (put != static_cast<ssize_t>(bytes.size())) {
        error = put < 0 ? "the write failed: " + errno_text() : "the write was incomplete";
        return -1;
    }
    if (fsync(fd_) != 0) {
        error = "flushing the write failed: " + errno_text();
        return -1;
    }
    // Drop the cached copy so that the comparison reads what the medium holds.
    posix_fadvise(fd_, offset, static_cast<off_t>(bytes.size()), POSIX_FADV_DONTNEED);
    sector_bytes_t back{};
    if (read_sector(lba, back) != 0) {
        error = "reading the sector back failed: " + errno_text();
        return -1;
    }
    if (back != bytes) {
        error = "the sector read back differs from the one written";
        return -1;
    }
    return 0;
}

int disk_writer_c::reread_partition_table(std::string& error) {
    if (!block_device_) {
        return 0;
    }
    if (ioctl(fd_, BLKRRPART) != 0) {
        error = "the kernel did not re-read the partition table (" + errno_text() +
                "); unplug and replug the disk, or run partprobe";
        return -1;
    }
    return 0;
}
