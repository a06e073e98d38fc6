#include "i18n/copy_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <vector>

namespace {

constexpr size_t copy_piece_size = 131072;

// Owns one descriptor; close() reports the error a delayed write may surface there.
class file_descriptor_c {
public:
    explicit file_descriptor_c(int fd) : fd_(fd) {}
    ~file_descriptor_c() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    file_descriptor_c(const file_descriptor_c&) = delete;
    file_descriptor_c& operator=(const file_descriptor_c&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

ssize_t read_some(int fd, char* data, size_t size) {
    ssize_t got;
    do {
        got = ::read(fd, data, size);
    } while (got < 0 && errno == EINTR);
    return got;
}

bool write_all(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(fd, data, size);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        data += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

}  // namespace

int copy_file(const QString& source, const QString& target) {
    file_descriptor_c in(::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC));
    if (!in.valid()) {
        return -1;
    }
    // Truncating the target must never empty the source: refuse when both name one file.
    const QByteArray target_name = QFile::encodeName(target);
    struct stat source_info {};
    struct stat target_info {};
    if (::fstat(in.get(), &source_info) != 0 ||
        (::stat(target_name.constData(), &target_info) == 0 &&
         source_info.st_dev == target_info.st_dev && source_info.st_ino == target_info.st_ino)) {
        return -1;
    }
    file_descriptor_c out(
        ::open(target_name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!out.valid()) {
        return -1;
    }
    std::vector<char> buffer(copy_piece_size);
    for (;;) {
        const ssize_t got = read_some(in.get(), buffer.data(), buffer.size());
        if (got < 0) {
            return -1;
        }
        if (got == 0) {
            break;
        }
        if (!write_all(out.get(), buffer.data(), static_cast<size_t>(got))) {
            return -1;
        }
    }
    return out.close() == 0 ? 0 : -1;
}
