// Pause, stop, progress and read errors during a scan; plain reading through a handle.
#include <gtest/gtest.h>

#include <thread>

#include "tests/libs/sigscan/scan_helpers.h"
#include "tests/support/fixture.h"

namespace {

std::vector<uint8_t> small_gif() {
    return join({text_bytes("GIF89a"),
                 {1, 0, 1, 0, 0, 0, 0},
                 {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0},
                 {2, 2, 0x4C, 0x01, 0, 0x3B}});
}

TEST(scan_control, stop_during_a_pause_ends_the_scan_without_reading_on) {
    sc_load_config("/nonexistent/Quarnel.conf");
    std::vector<uint8_t> bytes = test_noise(8u << 20, 6);
    put(bytes, 512, small_gif());
    memory_source_c source(bytes);
    std::vector<test_find_s> finds;
    sc_control_s control;
    control.user = &finds;
    control.found_callback = test_collect;
    control.pause.store(1);
    int result = -2;
    std::thread scan([&] { result = sc_scan_source(&control, source); });
    control.stop.store(3);
    scan.join();
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(finds.empty());
    EXPECT_LT(control.progress.load(), 1.0);
}

TEST(scan_control, a_bad_area_costs_only_itself) {
    sc_load_config("/nonexistent/Quarnel.conf");
    std::vector<uint8_t> bytes = test_noise(1u << 20, 7);
    put(bytes, 4096, small_gif());
    memory_source_c source(bytes);
    source.fail_reads_from(512 * 1024);
    std::vector<test_find_s> finds;
    sc_control_s control;
    control.user = &finds;
    control.found_callback = test_collect;
    EXPECT_EQ(sc_scan_source(&control, source), 0);
    ASSERT_EQ(finds.size(), 1u);
    EXPECT_EQ(finds[0].start, 4096u);
    EXPECT_EQ(control.progress.load(), 1.0);
}

TEST(scan_control, handle_reads_from_any_offset_and_stops_at_the_end) {
    std::string path = scratch_dir("handle") + "/device.img";
    std::vector<uint8_t> bytes = test_noise(3000, 8);
    write_file_bytes(path, bytes);
    sc_handle handle = sc_open(path.c_str());
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(sc_size(handle), 3000u);
    EXPECT_EQ(sc_seek(handle, 2900, 0), 0);
    uint8_t buffer[512];
    EXPECT_EQ(sc_read(handle, buffer, sizeof buffer), 100);
    EXPECT_EQ(buffer[0], bytes[2900]);
    EXPECT_EQ(sc_read(handle, buffer, sizeof buffer), 0);
    EXPECT_EQ(sc_seek(handle, 4000, 0), -1);
    sc_close(handle);
    EXPECT_EQ(sc_open("/nonexistent/device"), nullptr);
}

}  // namespace
