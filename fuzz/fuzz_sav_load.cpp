// The ".sav" loader: the fuzzer's bytes as a scan-result file, loaded, then every loaded
// record looked up by its index as the listing and the recovery do.
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engines/raw_recovery.h"
#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz_scratch_dir() + "/result.sav";
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr || std::fwrite(data, 1, size, out) != size || std::fclose(out) != 0) {
        std::abort();
    }
    raw_recovery_c engine;
    QString device = engine.load_result(QString::fromStdString(path));
    if (device.isEmpty()) {
        if (!engine.records().empty()) {
            std::abort();  // a refused file must leave nothing behind
        }
        return 0;
    }
    for (const raw_record_s& record : engine.records()) {
        if (engine.find_record(record.index) == nullptr) {
            std::abort();  // every loaded find must be reachable by its index
        }
        raw_record_extension(record);
    }
    for (const auto& [extension, indexes] : engine.by_extension()) {
        for (uint64_t index : indexes) {
            engine.find_record(index);
        }
    }
    return 0;
}
