#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

class block_source_c;

// Called once per found file, in the order of discovery, on the thread that runs sc_scan.
// `extension` is lower case without a dot; offsets count from the first byte of the device.
using sc_found_fn = void (*)(void* user, const char* extension, uint64_t start, uint64_t size);

// Shared between the caller and a running scan. The caller writes pause and stop from any
// thread; the scan writes progress.
struct sc_control_s {
    void* user = nullptr;
    std::atomic<double> progress{0.0};  // 0..1 of the device read
    std::atomic<int32_t> pause{0};      // non-zero: the scan waits
    std::atomic<int32_t> stop{0};       // non-zero: the scan returns within one block
    sc_found_fn found_callback = nullptr;
};

// Puts every field of `control` back to zero.
void sc_control_clear(sc_control_s& control);

// Loads the file-type configuration used by later scans. `path` is tried first; when it does
// not exist, its file name is looked for beside the program and in the installed data folder.
// Returns 0 when a file was loaded, 1 when none was found (the built-in types apply), -1 when
// a file was found but could not be read or has bad lines (bad lines are skipped; `message`
// says which).
int sc_load_config(const char* path, std::string* message = nullptr);

// Scans the volume, disk or image at `device_path` (as the platform layer resolves it).
// Returns 0 when the whole device was read, 1 when stopped, -1 when it cannot be opened.
int sc_scan(sc_control_s* control, const char* device_path);
// The same over an open source (tests, or a caller that opened the device itself). The
// source is read from several threads at once, as the platform layer's sources allow.
int sc_scan_source(sc_control_s* control, block_source_c& source);

// Plain reading of a device for copying found files out.
struct sc_device_s;
using sc_handle = sc_device_s*;
// nullptr when the device cannot be opened. Opens read-only.
sc_handle sc_open(const char* device_path);
// Positions the handle; origin 0 is the start of the device. 0 on success, -1 on failure.
int sc_seek(sc_handle handle, uint64_t offset, int origin);
// Reads up to `count` bytes at the position and advances it. Returns the bytes read, 0 at the
// end of the device, -1 on a read error.
int sc_read(sc_handle handle, void* buffer, int count);
// Size of the device in bytes (0 for a null handle).
uint64_t sc_size(sc_handle handle);
void sc_close(sc_handle handle);
