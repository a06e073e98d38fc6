// The full NTFS scan through the engine, every entry's path, and the recovery of every
// entry's data, over a volume made of the fuzzer's bytes (zeros after them, up to the size
// the boot sector gives).
#include <QFile>
#include <QString>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "engines/ntfs_recovery.h"
#include "fuzz/harness.h"
#include "libs/ntfs/ntfs_source_startup.h"
#include "platform/block_source.h"

namespace {

// Runs the scan on the calling thread: no thread per input.
class inline_ntfs_scan_c : public ntfs_recovery_c {
public:
    using ntfs_recovery_c::run;
};

// The fuzzer's bytes read in place, zeros after them up to the volume's size: a copy of
// every input (often hundreds of KiB) would cost more than scanning most of them.
class input_source_c : public block_source_c {
public:
    input_source_c(const uint8_t* data, size_t len, uint64_t size)
        : data_(data), len_(len), size_(std::max<uint64_t>(size, len)) {}

    int64_t read_at(uint64_t offset, void* buffer, size_t len) override {
        if (offset >= size_) {
            return 0;
        }
        const uint64_t n = std::min<uint64_t>(len, size_ - offset);
        auto* out = static_cast<uint8_t*>(buffer);
        const uint64_t stored = offset < len_ ? std::min<uint64_t>(n, len_ - offset) : 0;
        if (stored > 0) {
            std::memcpy(out, data_ + offset, static_cast<size_t>(stored));
        }
        std::memset(out + stored, 0, static_cast<size_t>(n - stored));
        return static_cast<int64_t>(n);
    }
    uint64_t size() const override { return size_; }

    // The input is gone after the call: whatever still holds this source reads nothing.
    void detach() {
        data_ = nullptr;
        len_ = 0;
        size_ = 0;
    }

private:
    const uint8_t* data_;
    size_t len_;
    uint64_t size_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const QString target = QString::fromStdString(fuzz_scratch_dir() + "/recovered");
    auto source = std::make_shared<input_source_c>(data, size, ntfs_declared_bytes(data, size));
    struct detach_s {
        input_source_c& source;
        ~detach_s() { source.detach(); }
    } detach{*source};
    // Most inputs are no volume at all: find that out through the library, so the engine's
    // failure log is not written once per input.
    {
        ntfs_context_s probe;
        if (ntfs_scan_startup_source(source, &probe) != ntfs_ok) {
            return 0;
        }
    }
    serve_fuzz_disk(source);
    inline_ntfs_scan_c engine;
    volume_item_s volume;
    volume.volume_path = QString::fromUtf8(fuzz_disk_path);
    volume.root_path = QStringLiteral("/media/fuzz/");
    engine.set_volume(volume);
    engine.run();
    for (const auto& [id, record] : engine.records()) {
        std::wstring path;
        engine.entry_path(id, path);
        engine.recover_file(id, target);
    }
    QFile::remove(target);
    return 0;
}
