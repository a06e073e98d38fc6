// FAT mount, the full scan of the folder tree and the recovery of every found file, over a
// volume made of the fuzzer's bytes (zeros after them, up to the size the boot sector gives).
#include <QFile>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "engines/fat/sector_access.h"
#include "engines/fat_recovery.h"
#include "fuzz/harness.h"

namespace {

// Runs the scan on the calling thread: no thread per input.
class inline_fat_scan_c : public fat_recovery_c {
public:
    using fat_recovery_c::run;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const QString target = QString::fromStdString(fuzz_scratch_dir() + "/recovered");
    install_sector_drive(
        0, std::make_shared<zero_tail_source_c>(data, size, fat_declared_bytes(data, size)));
    inline_fat_scan_c engine;
    engine.set_trace(false);
    volume_item_s volume;
    volume.volume_path = QStringLiteral("memory:0");
    volume.root_path = QStringLiteral("/media/fuzz/");
    engine.set_volume(volume);
    engine.run();
    for (const auto& [id, record] : engine.records()) {
        std::wstring path;
        engine.entry_path(id, path);
        if ((record.entry.attr & fat_attr_folder) == 0) {
            engine.recover_file(id, target);
        }
    }
    QFile::remove(target);
    return 0;
}
