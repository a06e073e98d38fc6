#include "partitions/sector_backup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

constexpr int max_name_tries = 100;

std::string safe_disk_name(const std::string& disk_path) {
    std::string name = fs::path(disk_path).filename().string();
    for (char& c : name) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '.' || c == '-' || c == '_';
        if (!plain) {
            c = '_';
        }
    }
    return name.empty() ? "disk" : name;
}

std::string local_stamp() {
    std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof(text), "%Y%m%d-%H%M%S", &parts);
    return text;
}

int write_all(int fd, const uint8_t* data, size_t len) {
    while (len > 0) {
        ssize_t put = write(fd, data, len);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        data += put;
        len -= static_cast<size_t>(put);
    }
    return 0;
}

}  // namespace

std::string sector_backup_folder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') {
        return (fs::path(state) / "quarnel").string();
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return (fs::path(home) / ".local" / "state" / "quarnel").string();
    }
    return "";
}

int save_sector_backup(const std::string& disk_path, const sector_bytes_t& sector,
                       std::string& backup_path, std::string& error) {
    std::string folder = sector_backup_folder();
    if (folder.empty()) {
        error = "no folder for the backup (neither XDG_STATE_HOME nor HOME is set)";
        return -1;
    }
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        error = "cannot create the backup folder " + folder + ": " + ec.message();
        return -1;
    }
    std::string base = folder + "/mbr-" + safe_disk_name(disk_path) + "-" + local_stamp();
    for (int attempt = 0; attempt < max_name_tries; ++attempt) {
        std::string path = base + (attempt == 0 ? "" : "-" + std::to_string(attempt)) + ".bin";
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) {
            continue;
        }
        if (fd < 0) {
            error = "cannot create the backup file " + path + ": " + std::strerror(errno);
            return -1;
        }
        bool ok = write_all(fd, sector.data(), sector.size()) == 0 && fsync(fd) == 0;
        int saved = errno;
        ok = (::close(fd) == 0) && ok;
        if (!ok) {
            error = "cannot write the backup file " + path + ": " + std::strerror(saved);
            unlink(path.c_str());
            return -1;
        }
        int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            fsync(dir);  // the file's name must survive a crash as well as its bytes
            ::close(dir);
        }
        backup_path = path;
        return 0;
    }
    error = "cannot find a free name for the backup file in " + folder;
    return -1;
}
