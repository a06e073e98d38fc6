// The full NTFS scan through the engine, every entry's path, and the recovery of every
// entry's data, over a volume made of the fuzzer's bytes (zeros after them, up to the size
// the boot sector gives).
#include <QFile>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "engines/ntfs_recovery.h"
#include "fuzz/harness.h"
#include "libs/ntfs/ntfs_source_startup.h"

namespace {

// Runs the scan on the calling thread: no thread per input.
class inline_ntfs_scan_c : public ntfs_recovery_c {
public:
    using ntfs_recovery_c::run;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const QString target = QString::fromStdString(fuzz_scratch_dir() + "/recovered");
    auto source = std::make_shared<zero_tail_source_c>(data, size, ntfs_declared_bytes(data, size));
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
