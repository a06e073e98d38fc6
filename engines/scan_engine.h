#pragma once

#include <atomic>
#include <cstdint>

#include "engines/recovery_base.h"

// What the FAT and NTFS engines keep alike: the volume, progress, the pause and stop flags and
// both counters. The scan thread writes them and the page polls them, without locks.
class scan_engine_c : public recovery_base_c {
    Q_OBJECT
public:
    using recovery_base_c::recovery_base_c;

    void set_volume(const volume_item_s& volume) override { volume_ = volume; }
    double get_progress() override { return progress_.load(); }
    void set_progress(double value) override { progress_.store(value); }
    void set_stop(int32_t code) override { stop_.store(code); }
    int32_t is_stopped() override { return stop_.load(); }
    int32_t is_paused() override { return pause_.load(); }
    void set_pause(int32_t flag) override { pause_.store(flag); }
    uint64_t scanned_count() override { return scanned_.load(); }
    uint64_t found_count() override { return found_.load(); }

protected:
    // Zeroes progress, flags and counters; each engine empties its own results.
    void reset_state() {
        progress_.store(0.0);
        pause_.store(0);
        stop_.store(0);
        scanned_.store(0);
        found_.store(0);
    }

    volume_item_s volume_;
    std::atomic<double> progress_{0.0};
    std::atomic<int32_t> pause_{0};
    std::atomic<int32_t> stop_{0};
    std::atomic<uint64_t> scanned_{0};
    std::atomic<uint64_t> found_{0};
};
