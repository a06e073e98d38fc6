#include "fuzz/harness.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include <unistd.h>

#include "platform/platform_backend.h"

namespace {

// Boot-sector fields that give a volume's size.
constexpr size_t bpb_bytes_per_sector_at = 0x0B;  // u16, FAT and NTFS
constexpr size_t fat_total_sectors16_at = 0x13;   // u16
constexpr size_t fat_total_sectors32_at = 0x20;   // u32
constexpr size_t ntfs_total_sectors_at = 0x28;    // u64; the backup boot sector follows them

uint64_t load_le(const uint8_t* data, size_t len, size_t at, size_t width) {
    if (at + width > len) {
        return 0;
    }
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) {
        value |= uint64_t{data[at + i]} << (8 * i);
    }
    return value;
}

// bytes_per_sector * sectors + extra, at least `len` and at most fuzz_max_volume_bytes.
uint64_t volume_size(uint64_t bytes_per_sector, uint64_t sectors, uint64_t extra, size_t len) {
    uint64_t size = fuzz_max_volume_bytes;
    if (sectors == 0 || bytes_per_sector <= (fuzz_max_volume_bytes - extra) / sectors) {
        size = bytes_per_sector * sectors + extra;
    }
    return std::max<uint64_t>(std::min(size, fuzz_max_volume_bytes), len);
}

class fuzz_backend_c : public platform_backend_c {
public:
    explicit fuzz_backend_c(std::shared_ptr<block_source_c> source) : source_(std::move(source)) {}

    int disk_paths(std::vector<std::string>& out) override {
        out = {fuzz_disk_path};
        return 0;
    }
    int query_disk(const std::string& path, disk_probe_s& out) override {
        if (path != fuzz_disk_path) {
            return -1;
        }
        out = {};
        out.path = path;
        out.size = source_->size();
        out.geometry.bytes_per_sector = 512;
        out.is_image = true;
        return 0;
    }
    std::vector<volume_probe_s> volumes_of(const disk_probe_s&, int32_t) override { return {}; }
    std::unique_ptr<block_source_c> open_read(const std::string& path) override {
        if (path != fuzz_disk_path) {
            return nullptr;
        }
        return std::make_unique<shared_view_c>(source_);
    }

private:
    // Each opener gets its own handle on the one shared buffer.
    class shared_view_c : public block_source_c {
    public:
        explicit shared_view_c(std::shared_ptr<block_source_c> source)
            : source_(std::move(source)) {}
        int64_t read_at(uint64_t offset, void* buffer, size_t len) override {
            return source_->read_at(offset, buffer, len);
        }
        uint64_t size() const override { return source_->size(); }

    private:
        std::shared_ptr<block_source_c> source_;
    };

    std::shared_ptr<block_source_c> source_;
};

}  // namespace

const char* const fuzz_disk_path = "/fuzz/disk0";

zero_tail_source_c::zero_tail_source_c(const uint8_t* data, size_t len, uint64_t size)
    : bytes_(data, data + len), size_(std::max<uint64_t>(size, len)) {}

int64_t zero_tail_source_c::read_at(uint64_t offset, void* buffer, size_t len) {
    if (offset >= size_) {
        return 0;
    }
    const uint64_t n = std::min<uint64_t>(len, size_ - offset);
    auto* out = static_cast<uint8_t*>(buffer);
    uint64_t stored = offset < bytes_.size() ? std::min<uint64_t>(n, bytes_.size() - offset) : 0;
    if (stored > 0) {
        std::memcpy(out, bytes_.data() + offset, stored);
    }
    std::memset(out + stored, 0, n - stored);
    return static_cast<int64_t>(n);
}

uint64_t fat_declared_bytes(const uint8_t* data, size_t len) {
    uint64_t sector = load_le(data, len, bpb_bytes_per_sector_at, 2);
    uint64_t sectors = load_le(data, len, fat_total_sectors16_at, 2);
    if (sectors == 0) {
        sectors = load_le(data, len, fat_total_sectors32_at, 4);
    }
    return volume_size(sector, sectors, 0, len);
}

uint64_t ntfs_declared_bytes(const uint8_t* data, size_t len) {
    uint64_t sector = load_le(data, len, bpb_bytes_per_sector_at, 2);
    uint64_t sectors = load_le(data, len, ntfs_total_sectors_at, 8);
    return volume_size(sector, sectors, std::min(sector, fuzz_max_volume_bytes), len);
}

void serve_fuzz_disk(std::shared_ptr<block_source_c> source) {
    set_platform(std::make_unique<fuzz_backend_c>(std::move(source)));
}

const std::string& fuzz_scratch_dir() {
    static const std::string dir = [] {
        // Recoveries create and remove a file per found entry: memory-backed is much faster.
        std::error_code error;
        const std::filesystem::path base = access("/dev/shm", W_OK) == 0
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path(error);
        std::string pattern = (base / "quarnel-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        // Engine logs land here instead of the user's state folder.
        setenv("XDG_STATE_HOME", pattern.c_str(), 1);
        static std::string remove_at_exit;
        remove_at_exit = pattern;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(remove_at_exit, ignored);
        });
        return pattern;
    }();
    return dir;
}
