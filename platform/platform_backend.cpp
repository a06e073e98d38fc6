#include "platform/platform_backend.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <mutex>

#include "platform/linux_backend.h"
#include "platform/slice_source.h"

namespace {

std::mutex state_mutex;
std::unique_ptr<platform_backend_c> current_backend;
std::vector<std::string> images;

std::string absolute_path(const std::string& path) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved)) {
        return resolved;
    }
    return path;
}

bool is_regular_file(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string without_trailing_slash(std::string path) {
    if (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) {
        path.pop_back();
    }
    return path;
}

int find_location(const std::string& path, location_s& out) {
    std::vector<disk_probe_s> disks = list_disks();
    for (size_t i = 0; i < disks.size(); ++i) {
        if (disks[i].path == path) {
            out = location_s{disks[i].path, static_cast<int32_t>(i), 0, 0, disks[i].size, true};
            return 0;
        }
    }
    for (size_t i = 0; i < disks.size(); ++i) {
        for (const volume_probe_s& v : platform().volumes_of(disks[i], static_cast<int32_t>(i))) {
            if (v.volume_path == path || v.device_name == path) {
                out = location_s{disks[i].path,      static_cast<int32_t>(i),
                                 v.partition_number, v.start_offset,
                                 v.length,           false};
                return 0;
            }
        }
    }
    return -1;
}

}  // namespace

platform_backend_c& platform() {
    std::lock_guard lock(state_mutex);
    if (!current_backend) {
        current_backend = std::make_unique<linux_backend_c>();
    }
    return *current_backend;
}

void set_platform(std::unique_ptr<platform_backend_c> backend) {
    std::lock_guard lock(state_mutex);
    current_backend = std::move(backend);
}

int add_image(const std::string& path) {
    if (!is_regular_file(path) || access(path.c_str(), R_OK) != 0) {
        return -1;
    }
    std::string absolute = absolute_path(path);
    std::lock_guard lock(state_mutex);
    if (std::find(images.begin(), images.end(), absolute) == images.end()) {
        images.push_back(absolute);
    }
    return 0;
}

const std::vector<std::string>& image_paths() {
    return images;
}

void clear_images() {
    std::lock_guard lock(state_mutex);
    images.clear();
}

std::vector<disk_probe_s> list_disks(int* status) {
    std::vector<std::string> paths;
    int listed = platform().disk_paths(paths);
    if (status) {
        *status = listed;
    }
    std::vector<disk_probe_s> disks;
    for (const std::string& path : paths) {
        disk_probe_s probe;
        if (platform().query_disk(path, probe) == 0) {
            disks.push_back(probe);
        }
    }
    return disks;
}

std::vector<volume_probe_s> list_volumes(int* status) {
    std::vector<volume_probe_s> volumes;
    std::vector<disk_probe_s> disks = list_disks(status);
    for (size_t i = 0; i < disks.size(); ++i) {
        std::vector<volume_probe_s> found =
            platform().volumes_of(disks[i], static_cast<int32_t>(i));
        volumes.insert(volumes.end(), found.begin(), found.end());
    }
    return volumes;
}

int resolve_location(const std::string& given, location_s& out) {
    if (given.empty()) {
        return -1;
    }
    std::string path = without_trailing_slash(given);
    if (find_location(path, out) == 0) {
        return 0;
    }
    // An image path (or IMAGE@N) that was not given with --image is still a valid source.
    std::string image = path;
    size_t at = path.rfind('@');
    if (!is_regular_file(image) && at != std::string::npos) {
        image = path.substr(0, at);
    }
    if (!is_regular_file(image) || add_image(image) != 0) {
        return -1;
    }
    std::string absolute = absolute_path(image) + path.substr(image.size());
    return find_location(absolute, out);
}

std::unique_ptr<block_source_c> open_location(const location_s& where) {
    std::shared_ptr<block_source_c> disk = platform().open_read(where.disk_path);
    if (!disk) {
        return nullptr;
    }
    return std::make_unique<slice_source_c>(disk, where.start_offset, where.length);
}

std::unique_ptr<block_source_c> open_volume(const std::string& path) {
    location_s where;
    if (resolve_location(path, where) != 0) {
        return nullptr;
    }
    return open_location(where);
}

bool natural_name_less(const std::string& a, const std::string& b) {
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        bool digit_a = std::isdigit(static_cast<unsigned char>(a[i]));
        bool digit_b = std::isdigit(static_cast<unsigned char>(b[j]));
        size_t end_a = i;
        size_t end_b = j;
        while (end_a < a.size() && std::isdigit(static_cast<unsigned char>(a[end_a])) == digit_a) {
            ++end_a;
        }
        while (end_b < b.size() && std::isdigit(static_cast<unsigned char>(b[end_b])) == digit_b) {
            ++end_b;
        }
        std::string run_a = a.substr(i, end_a - i);
        std::string run_b = b.substr(j, end_b - j);
        if (digit_a && digit_b) {
            // Compare numbers by value: strip leading zeros, then shorter is smaller.
            run_a.erase(0, std::min(run_a.find_first_not_of('0'), run_a.size() - 1));
            run_b.erase(0, std::min(run_b.find_first_not_of('0'), run_b.size() - 1));
        }
        if (digit_a != digit_b) {
            return digit_a;
        }
        // Letters as the kernel assigns them within one family: sdz < sdaa.
        bool same_family =
            run_a.size() >= 2 && run_b.size() >= 2 && run_a.compare(0, 2, run_b, 0, 2) == 0;
        if ((digit_a || same_family) && run_a.size() != run_b.size()) {
            return run_a.size() < run_b.size();
        }
        if (run_a != run_b) {
            return run_a < run_b;
        }
        i = end_a;
        j = end_b;
    }
    return a.size() - i < b.size() - j;
}
