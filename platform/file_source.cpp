#include "platform/file_source.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <string>

std::unique_ptr<file_source_c> file_source_c::open(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return nullptr;
    }
    uint64_t size = 0;
    bool block = S_ISBLK(st.st_mode);
    if (block) {
        if (ioctl(fd, BLKGETSIZE64, &size) != 0) {
            int saved = errno;
            ::close(fd);
            errno = saved;
            return nullptr;
        }
    } else if (S_ISREG(st.st_mode)) {
        size = static_cast<uint64_t>(st.st_size);
    } else {
        ::close(fd);
        errno = EINVAL;
        return nullptr;
    }
    return std::unique_ptr<file_source_c>(new file_source_c(fd, size, block, path));
}

file_source_c::file_source_c(int fd, uint64_t size, bool block_device, std::string path)
    : fd_(fd), size_(size), block_device_(block_device), path_(std::move(path)) {}

file_source_c::~file_source_c() {
    ::close(fd_);
}

int64_t file_source_c::read_at(uint64_t offset, void* buffer, size_t len) {
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < len) {
        ssize_t got = pread(fd_, out + done, len - done, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return done > 0 ? static_cast<int64_t>(done) : -1;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(done);
}

bool file_source_c::present() {
    struct stat st {};
    if (fstat(fd_, &st) != 0) {
        return false;
    }
    if (!block_device_) {
        return st.st_nlink > 0;  // an image file that was deleted has no links left
    }
    // A pulled USB disk keeps our descriptor but loses its sysfs entry.
    std::string sys = "/sys/dev/block/" + std::to_string(major(st.st_rdev)) + ":" +
                      std::to_string(minor(st.st_rdev));
    return access(sys.c_str(), F_OK) == 0;
}

void file_source_c::advise_sequential() {
    posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}
