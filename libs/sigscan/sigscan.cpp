#include "libs/sigscan/sigscan.h"

#include <algorithm>
#include <exception>
#include <memory>

#include "libs/sigscan/sc_config.h"
#include "libs/sigscan/signature_scanner.h"
#include "platform/platform_backend.h"

// An open device for plain reading.
struct sc_device_s {
    std::unique_ptr<block_source_c> source;
    uint64_t position = 0;
};

namespace {

// A volume, disk or image as the platform layer resolves it; any other readable path
// (a copy of a volume, say) is read as a whole.
std::unique_ptr<block_source_c> open_device(const char* device_path) {
    if (!device_path || !*device_path) {
        return nullptr;
    }
    location_s where;
    if (resolve_location(device_path, where) == 0) {
        if (auto source = open_location(where)) {
            return source;
        }
    }
    return platform().open_read(device_path);
}

}  // namespace

void sc_control_clear(sc_control_s& control) {
    control.user = nullptr;
    control.progress.store(0.0);
    control.pause.store(0);
    control.stop.store(0);
    control.found_callback = nullptr;
}

int sc_scan_source(sc_control_s* control, block_source_c& source) {
    if (!control) {
        return -1;
    }
    std::shared_ptr<const sc_config_s> config = sc_current_config();
    try {
        signature_scanner_c scanner(*config, source, *control);
        return scanner.run();
    } catch (const std::exception&) {
        return -1;  // no memory for the read-ahead blocks or the reader thread
    }
}

int sc_scan(sc_control_s* control, const char* device_path) {
    std::unique_ptr<block_source_c> source = open_device(device_path);
    if (!source) {
        return -1;
    }
    return sc_scan_source(control, *source);
}

sc_handle sc_open(const char* device_path) {
    std::unique_ptr<block_source_c> source = open_device(device_path);
    if (!source) {
        return nullptr;
    }
    auto device = std::make_unique<sc_device_s>();
    device->source = std::move(source);
    return device.release();
}

int sc_seek(sc_handle handle, uint64_t offset, int origin) {
    if (!handle || origin != 0 || offset > handle->source->size()) {
        return -1;
    }
    handle->position = offset;
    return 0;
}

int sc_read(sc_handle handle, void* buffer, int count) {
    if (!handle || !buffer || count < 0) {
        return -1;
    }
    int64_t got = handle->source->read_at(handle->position, buffer, static_cast<size_t>(count));
    if (got > 0) {
        handle->position += static_cast<uint64_t>(got);
    }
    return static_cast<int>(got);
}

uint64_t sc_size(sc_handle handle) {
    return handle ? handle->source->size() : 0;
}

void sc_close(sc_handle handle) {
    delete handle;
}
