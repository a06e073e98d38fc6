#pragma once

#include "engines/recovery_base.h"

// The engine the scan page holds before any scan was chosen: every call is harmless.
class recovery_stop_c : public recovery_base_c {
    Q_OBJECT
public:
    using recovery_base_c::recovery_base_c;

    void set_volume(const volume_item_s&) override {}
    double get_progress() override { return 0.0; }
    void set_progress(double) override {}
    void set_stop(int32_t) override {}
    int32_t is_stopped() override { return 1; }
    int32_t is_paused() override { return 0; }
    void set_pause(int32_t) override {}
    uint64_t scanned_count() override { return 0; }
    void reset() override {}
    int32_t recover_file(uint64_t, const QString&) override { return 0; }
    int32_t entry_path(uint64_t, std::wstring&) override { return 0; }
    uint64_t found_count() override { return 0; }
};
