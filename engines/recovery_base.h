#pragma once

#include <QString>
#include <QThread>
#include <cstdint>
#include <string>

#include "discovery/volume_item.h"

// Stop codes of set_stop / is_stopped.
enum : int32_t {
    stop_run = 0,
    stop_abandon = 2,  // the page was left: results are discarded
    stop_user = 3,     // the user pressed stop: results are kept
};

// What every scan engine offers the scan page and the export worker. run() is the scan.
class recovery_base_c : public QThread {
    Q_OBJECT
public:
    using QThread::QThread;
    ~recovery_base_c() override = default;

    virtual void set_volume(const volume_item_s& volume) = 0;
    virtual double get_progress() = 0;
    virtual void set_progress(double value) = 0;
    virtual void set_stop(int32_t code) = 0;
    virtual int32_t is_stopped() { return 1; }
    virtual int32_t is_paused() = 0;
    virtual void set_pause(int32_t flag) = 0;
    virtual uint64_t scanned_count() = 0;
    virtual void reset() = 0;
    // Writes entry `id` to `target`. 0 on success.
    virtual int32_t recover_file(uint64_t id, const QString& target) = 0;
    // Path of entry `id` on the mounted volume. 0 on success, -1 when a link is missing.
    virtual int32_t entry_path(uint64_t id, std::wstring& out) {
        (void)id;
        (void)out;
        return 0;
    }
    virtual uint64_t found_count() { return 0; }
};
