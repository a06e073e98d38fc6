#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "i18n/format_size.h"
#include "tests/i18n/i18n_test_state.h"

namespace {

struct size_case_s {
    uint64_t bytes;
    const char* text;
};

TEST(format_size_test, switches_unit_only_above_each_power_of_1024) {
    constexpr uint64_t kib = 1024;
    constexpr uint64_t mib = kib * kib;
    constexpr uint64_t gib = mib * kib;
    const size_case_s cases[] = {
        {0, "0B"},
        {1, "1B"},
        {kib - 1, "1023B"},
        {kib, "1024B"},
        {kib + 1, "1.00K"},
        {1536, "1.50K"},
        {mib - 1, "1024.00K"},
        {mib, "1024.00K"},
        {mib + 1, "1.00M"},
        {mib + mib / 4, "1.25M"},
        {gib - 1, "1024.00M"},
        {gib, "1024.00M"},
        {gib + 1, "1.00G"},
        {5 * gib, "5.00G"},
        {2000 * gib, "2000.00G"},
        {std::numeric_limits<uint64_t>::max(), "17179869184.00G"},
    };
    for (const size_case_s& c : cases) {
        EXPECT_EQ(format_size(c.bytes), c.text) << c.bytes;
    }
}

}  // namespace
