// Replays a fuzz target's committed corpus, the inputs that once made it fail included, in
// every build: a fixed fault stays fixed even where no fuzzer is built.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/fixture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// FUZZ_REPLAY_SUITE names the suite after the target, so each target's test has its own name.
TEST(FUZZ_REPLAY_SUITE, every_corpus_input_runs_clean) {
    std::vector<std::string> inputs;
    for (const auto& entry : std::filesystem::directory_iterator(FUZZ_CORPUS_DIR)) {
        if (entry.is_regular_file()) {
            inputs.push_back(entry.path().string());
        }
    }
    std::sort(inputs.begin(), inputs.end());
    ASSERT_FALSE(inputs.empty()) << "no inputs in " << FUZZ_CORPUS_DIR;
    for (const std::string& input : inputs) {
        SCOPED_TRACE(input);
        const std::vector<uint8_t> bytes = read_file_bytes(input);
        EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
    }
}
