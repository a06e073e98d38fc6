#pragma once

#include <string>

// The machine-wide lock every attach of a loop device in the test suite holds until its
// device is gone: `mount -o loop` and `losetup -f` pick free devices the same racy way.
class loop_lock_c {
public:
    loop_lock_c();
    ~loop_lock_c();
    loop_lock_c(const loop_lock_c&) = delete;
    loop_lock_c& operator=(const loop_lock_c&) = delete;
    bool held() const { return held_; }

private:
    bool held_ = false;
};

// A loop device attached to an image for the life of the object, then detached.
//
// Test processes run side by side, and two `losetup -f` calls at the same moment can both
// be told the same free device; the second then tears down the first one's device. So every
// attach in the test suite takes the lock above, held until the device is detached, and an
// attach counts only when the kernel says the device is backed by our image.
class loop_device_c {
public:
    struct options_s {
        bool read_only = true;
        bool partition_scan = false;  // have the kernel make pN nodes
    };

    loop_device_c(const std::string& image, options_s options);
    explicit loop_device_c(const std::string& image) : loop_device_c(image, options_s{}) {}
    ~loop_device_c();
    loop_device_c(const loop_device_c&) = delete;
    loop_device_c& operator=(const loop_device_c&) = delete;

    // "/dev/loopN", or empty when no device could be attached here.
    const std::string& path() const { return path_; }

    // Detaches now (the destructor then does nothing more).
    void detach();

private:
    loop_lock_c lock_;  // declared first: released after the device is detached
    std::string path_;
};
