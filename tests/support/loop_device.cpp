#include "tests/support/loop_device.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <mutex>

#include "tests/support/fixture.h"

namespace fs = std::filesystem;

namespace {

// One lock for all test processes. flock() belongs to an open file, so within one process
// the lock is shared by count; the mutex keeps threads of one process from interleaving.
std::mutex lock_guard_mutex;
int lock_fd = -1;
int lock_users = 0;

bool take_machine_lock() {
    std::lock_guard guard(lock_guard_mutex);
    if (lock_users == 0) {
        const std::string path = (fs::temp_directory_path() / "quarnel-tests-loop.lock").string();
        lock_fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (lock_fd < 0) {
            return false;
        }
        if (flock(lock_fd, LOCK_EX) != 0) {
            close(lock_fd);
            lock_fd = -1;
            return false;
        }
    }
    ++lock_users;
    return true;
}

void release_machine_lock() {
    std::lock_guard guard(lock_guard_mutex);
    if (--lock_users == 0) {
        flock(lock_fd, LOCK_UN);
        close(lock_fd);
        lock_fd = -1;
    }
}

// The file the kernel has behind a loop device, as /sys shows it.
std::string backing_file(const std::string& device) {
    std::ifstream in("/sys/block/" + fs::path(device).filename().string() + "/loop/backing_file");
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

loop_lock_c::loop_lock_c() : held_(take_machine_lock()) {}

loop_lock_c::~loop_lock_c() {
    if (held_) {
        release_machine_lock();
    }
}

loop_device_c::loop_device_c(const std::string& image, options_s options) {
    if (!lock_.held()) {
        return;
    }
    std::string command = "losetup -f --show";
    command += options.read_only ? " -r" : "";
    command += options.partition_scan ? " -P" : "";
    std::string out;
    if (run_command(command + " " + shell_quote(image) + " 2>/dev/null", &out) != 0) {
        return;
    }
    out.erase(out.find_last_not_of('\n') + 1);
    if (out.empty()) {
        return;
    }
    std::error_code error;
    if (backing_file(out) != fs::canonical(image, error).string()) {
        return;  // not ours: leave it alone
    }
    path_ = out;
}

loop_device_c::~loop_device_c() {
    detach();
}

void loop_device_c::detach() {
    if (!path_.empty()) {
        run_command("losetup -d " + shell_quote(path_));
        path_.clear();
    }
}
