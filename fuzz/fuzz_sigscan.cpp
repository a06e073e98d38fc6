// The signature scan with the built-in file types. The first byte picks what the rest goes
// through: even, every format's end-finder whose header matches the first bytes, straight
// (fast, so the fuzzer can work on each structure); odd, the whole scan with its read-ahead
// pipeline, the header test at every boundary and the hand-over to the end-finders.
// A find must never reach past the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "libs/sigscan/carve_view.h"
#include "libs/sigscan/format_reader.h"
#include "libs/sigscan/sc_config.h"
#include "libs/sigscan/signature_scanner.h"
#include "libs/sigscan/sigscan.h"
#include "platform/memory_source.h"

namespace {

struct bounds_s {
    uint64_t size = 0;
};

void check_find(void* user, const char* extension, uint64_t start, uint64_t size) {
    const auto* bounds = static_cast<const bounds_s*>(user);
    if (extension == nullptr || size == 0 || start >= bounds->size || size > bounds->size - start) {
        std::abort();  // a find outside the device would copy bytes that are not the file's
    }
}

void whole_scan(const uint8_t* data, size_t size) {
    memory_source_c source(std::vector<uint8_t>(data, data + size));
    bounds_s bounds{size};
    sc_control_s control;
    control.user = &bounds;
    control.found_callback = check_find;
    sc_scan_source(&control, source);
}

// The built-in configuration and a scanner over nothing, for its header tests.
struct matcher_s {
    std::shared_ptr<const sc_config_s> config = sc_current_config();
    memory_source_c nothing{std::vector<uint8_t>()};
    sc_control_s control;
    signature_scanner_c scanner{*config, nothing, control};
};

void end_finders(const uint8_t* data, size_t size) {
    static matcher_s matcher;
    static carve_buffer_s window;  // shared by every view, as in a scan
    const carve_view_c::header_test_fn header_test = [](uint64_t, const uint8_t* p, size_t n) {
        return matcher.scanner.file_starts(p, n);
    };
    memory_source_c source(std::vector<uint8_t>(data, data + size));
    const size_t head = std::min<size_t>(size, sc_sector_bytes);
    std::vector<size_t> candidates;
    for (bool any_offset : {false, true}) {
        matcher.scanner.match(data, head, any_offset, candidates);
        for (size_t index : candidates) {
            const sc_type_s& type = matcher.config->types[index];
            const format_reader_s* reader = sc_find_format(type.format);
            if (reader == nullptr || (reader->probe && !reader->probe(data, head))) {
                continue;
            }
            carve_view_c view(source, 0, std::min<uint64_t>(type.max_size, size), &header_test,
                              nullptr, &window);
            carve_result_s result;
            reader->carve(view, result);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    if (data[0] & 1) {
        whole_scan(data + 1, size - 1);
    } else {
        end_finders(data + 1, size - 1);
    }
    return 0;
}
