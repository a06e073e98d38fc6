// The signature scan with the built-in file types over the fuzzer's bytes: the header test
// at every boundary and, wherever a header matches, that format's structure walk that finds
// the file's end. Every find must lie inside the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    memory_source_c source(std::vector<uint8_t>(data, data + size));
    bounds_s bounds{size};
    sc_control_s control;
    control.user = &bounds;
    control.found_callback = check_find;
    sc_scan_source(&control, source);
    return 0;
}
