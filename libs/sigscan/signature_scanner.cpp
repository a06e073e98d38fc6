#include "libs/sigscan/signature_scanner.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <exception>
#include <thread>

#include "libs/sigscan/block_pipeline.h"
#include "libs/sigscan/format_reader.h"
#include "platform/block_source.h"

namespace {

// Large aligned reads keep a fast device busy; a few in flight overlap reading and matching.
constexpr size_t block_bytes = 4u << 20;
constexpr size_t blocks_ahead = 6;
// Copying from the page cache is the bulk of the work on a warm source: two threads do it.
constexpr size_t reading_threads = 2;
constexpr auto pause_poll = std::chrono::milliseconds(100);

bool header_matches(const sc_type_s& type, const uint8_t* p, size_t n) {
    if (type.header.size() > n) {
        return false;
    }
    for (size_t i = 0; i < type.header.size(); ++i) {
        if ((p[i] & type.header_mask[i]) != type.header[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

signature_scanner_c::signature_scanner_c(const sc_config_s& config, block_source_c& source,
                                         sc_control_s& control)
    : config_(config), source_(source), control_(control), size_(source.size()) {
    readers_.resize(config.types.size(), nullptr);
    for (size_t i = 0; i < config.types.size(); ++i) {
        const sc_type_s& type = config.types[i];
        readers_[i] = type.format.empty() ? nullptr : sc_find_format(type.format);
        if (!type.enabled) {
            continue;
        }
        add_to_dispatch(type.any_offset ? anywhere_dispatch_ : boundary_dispatch_, i);
        longest_header_ = std::max(longest_header_, type.header.size());
    }
    header_test_ = [this](uint64_t, const uint8_t* p, size_t n) { return file_starts(p, n); };
}

void signature_scanner_c::add_to_dispatch(std::vector<dispatch_s>& table, size_t type_index) {
    const sc_type_s& type = config_.types[type_index];
    size_t anchor = 0;
    while (anchor < type.header_mask.size() && type.header_mask[anchor] != 0xFF) {
        ++anchor;
    }
    auto found = std::find_if(table.begin(), table.end(),
                              [&](const dispatch_s& d) { return d.anchor == anchor; });
    if (found == table.end()) {
        table.emplace_back();
        table.back().anchor = anchor;
        found = table.end() - 1;
    }
    found->by_byte[type.header[anchor]].push_back(type_index);
    const size_t first = size_t{type.header[anchor]} << 8;
    const bool second_known = anchor + 1 < type.header.size();
    for (size_t value = 0; value < 256; ++value) {
        if (!second_known || (value & type.header_mask[anchor + 1]) == type.header[anchor + 1]) {
            found->pairs[(first | value) / 64] |= uint64_t{1} << (value % 64);
        }
    }
}

void signature_scanner_c::match(const uint8_t* p, size_t n, bool any_offset,
                                std::vector<size_t>& out) const {
    out.clear();
    for (const dispatch_s& d : any_offset ? anywhere_dispatch_ : boundary_dispatch_) {
        if (d.anchor >= n) {
            continue;
        }
        if (d.anchor + 1 < n && !pair_allowed(d.pairs, p + d.anchor)) {
            continue;
        }
        for (size_t index : d.by_byte[p[d.anchor]]) {
            if (header_matches(config_.types[index], p, n)) {
                out.push_back(index);
            }
        }
    }
    if (out.size() > 1) {
        std::sort(out.begin(), out.end());
    }
}

bool signature_scanner_c::file_starts(const uint8_t* p, size_t n) const {
    std::vector<size_t> found;
    match(p, n, false, found);
    for (size_t index : found) {
        const format_reader_s* reader = readers_[index];
        if (!reader || !reader->probe || reader->probe(p, n)) {
            return true;
        }
    }
    return false;
}

bool signature_scanner_c::wait_while_paused() {
    while (control_.pause.load() != 0 && control_.stop.load() == 0) {
        std::this_thread::sleep_for(pause_poll);
    }
    return control_.stop.load() == 0;
}

uint64_t signature_scanner_c::try_offset(uint64_t offset, const uint8_t* p, size_t n,
                                         bool any_offset) {
    match(p, n, any_offset, candidates_);
    if (candidates_.empty()) {
        return 0;
    }
    std::vector<size_t> candidates = candidates_;
    for (size_t index : candidates) {
        const sc_type_s& type = config_.types[index];
        const format_reader_s* reader = readers_[index];
        if (reader && reader->probe && !reader->probe(p, n)) {
            continue;
        }
        uint64_t limit = std::min(type.max_size, size_ - offset);
        carve_view_c view(source_, offset, limit, &header_test_, &control_.stop, &window_buffer_);
        carve_result_s result;
        bool accepted = false;
        if (reader) {
            try {
                accepted = reader->carve(view, result);
            } catch (const std::exception&) {
                accepted = false;  // a structure that asks for more memory than there is
            }
        } else if (!type.footer.empty()) {
            uint64_t last = view.find_last(type.footer, type.header.size(), limit, nullptr);
            if (last != UINT64_MAX) {
                result.size = last + type.footer.size();
                accepted = true;
            }
        } else {
            uint64_t fence = view.next_file_start(type.header.size(), limit);
            result.size = fence != UINT64_MAX ? fence : limit;
            accepted = true;
        }
        if (control_.stop.load() != 0) {
            return 0;
        }
        result.size = std::min(result.size, limit);
        if (!accepted || result.size == 0) {
            continue;
        }
        const std::string& extension = result.extension.empty() ? type.extension : result.extension;
        if (control_.found_callback) {
            control_.found_callback(control_.user, extension.c_str(), offset, result.size);
        }
        return offset + result.size;
    }
    return 0;
}

void signature_scanner_c::inspect(const uint8_t* p, size_t n, uint64_t offset, uint64_t block_start,
                                  std::vector<uint32_t>& hits, std::vector<size_t>& scratch) const {
    size_t first =
        static_cast<size_t>((sc_sector_bytes - offset % sc_sector_bytes) % sc_sector_bytes);
    size_t whole = first < n ? (n - first) / sc_sector_bytes : 0;
    // The quick test one anchor at a time over a run of sectors, each marking the sectors
    // it lets through: a tight loop with no branch per sector.
    constexpr size_t run_sectors = 256;
    for (size_t run = 0; run < whole; run += run_sectors) {
        const size_t count = std::min(run_sectors, whole - run);
        const uint8_t* base = p + first + run * sc_sector_bytes;
        std::array<uint64_t, run_sectors / 64> maybe{};
        for (const dispatch_s& d : boundary_dispatch_) {
            if (d.anchor + 1 >= sc_sector_bytes) {
                maybe.fill(~uint64_t{0});
                continue;
            }
            const uint8_t* at = base + d.anchor;
            for (size_t k = 0; k < count; ++k, at += sc_sector_bytes) {
                maybe[k / 64] |= uint64_t{pair_allowed(d.pairs, at)} << (k % 64);
            }
        }
        for (size_t word = 0; word < maybe.size(); ++word) {
            for (uint64_t bits = maybe[word]; bits != 0; bits &= bits - 1) {
                const size_t k = word * 64 + static_cast<size_t>(std::countr_zero(bits));
                if (k >= count) {
                    break;
                }
                const size_t i = first + (run + k) * sc_sector_bytes;
                // Header and cheap structure check here, so that long runs of a byte that
                // starts a weak header (erased flash is all 0xFF) do not reach the carving
                // thread.
                match(p + i, sc_sector_bytes, false, scratch);
                for (size_t index : scratch) {
                    const format_reader_s* reader = readers_[index];
                    if (!reader || !reader->probe || reader->probe(p + i, sc_sector_bytes)) {
                        hits.push_back(static_cast<uint32_t>(offset - block_start + i));
                        break;
                    }
                }
            }
        }
    }
    const size_t tail = first + whole * sc_sector_bytes;
    if (tail < n) {
        hits.push_back(static_cast<uint32_t>(offset - block_start + tail));  // decide later
    }
}

int signature_scanner_c::run() {
    if (size_ == 0) {
        control_.progress.store(1.0);
        return 0;
    }
    bool anywhere = !anywhere_dispatch_.empty();
    block_inspector_fn inspector;
    if (!anywhere) {
        // The header test runs on the reading thread right after each piece is read.
        // Several reading threads share this function: each keeps its own scratch list.
        inspector = [this](const uint8_t* p, size_t n, uint64_t offset, uint64_t block_start,
                           std::vector<uint32_t>& hits) {
            thread_local std::vector<size_t> scratch;
            inspect(p, n, offset, block_start, hits, scratch);
        };
    }
    block_pipeline_c pipeline(source_, block_bytes, blocks_ahead, reading_threads,
                              std::move(inspector), anywhere);
    uint64_t resume = 0;  // nothing before this is tested again (inside an earlier find)
    std::vector<uint8_t> seam(longest_header_ + sc_sector_bytes);
    while (const block_s* block = pipeline.next()) {
        if (!wait_while_paused()) {
            return 1;
        }
        uint64_t block_end = block->offset + block->length;
        if (block_end <= resume) {
            continue;
        }
        // Bytes at `at` for the header test; a header across the end of the block is
        // fetched directly.
        auto bytes_at = [&](uint64_t at, size_t& n) -> const uint8_t* {
            size_t in_block = static_cast<size_t>(at - block->offset);
            n = block->length - in_block;
            if (!block->data || (n < longest_header_ && block_end < size_)) {
                int64_t got = source_.read_at(at, seam.data(), seam.size());
                n = got > 0 ? static_cast<size_t>(got) : 0;
                return seam.data();
            }
            return block->data.get() + in_block;
        };
        if (!anywhere) {
            for (uint32_t hit : block->hits) {
                uint64_t at = block->offset + hit;
                if (at < resume) {
                    continue;
                }
                if (control_.stop.load() != 0) {
                    return 1;
                }
                size_t n = 0;
                const uint8_t* p = bytes_at(at, n);
                uint64_t end = try_offset(at, p, std::min<size_t>(n, sc_sector_bytes), false);
                if (end != 0) {
                    resume = end;
                }
            }
        } else {
            uint64_t at = std::max(resume, block->offset);
            while (at < block_end) {
                if (control_.stop.load() != 0) {
                    return 1;
                }
                size_t n = 0;
                const uint8_t* p = bytes_at(at, n);
                uint64_t end = 0;
                if (at % sc_sector_bytes == 0) {
                    end = try_offset(at, p, std::min<size_t>(n, sc_sector_bytes), false);
                }
                if (end == 0) {
                    end = try_offset(at, p, std::min<size_t>(n, sc_sector_bytes), true);
                }
                if (end != 0) {
                    resume = end;
                    at = end;
                    continue;
                }
                ++at;
            }
        }
        if (control_.stop.load() != 0) {
            return 1;
        }
        uint64_t next_boundary = anywhere ? resume : sc_align_sector(resume);
        control_.progress.store(static_cast<double>(std::min(std::max(block_end, resume), size_)) /
                                static_cast<double>(size_));
        // A find that runs far past the blocks read ahead: skip the rest of it unread.
        if (next_boundary > pipeline.read_ahead_end() + block_bytes) {
            pipeline.restart(next_boundary / block_bytes * block_bytes);
        }
    }
    if (control_.stop.load() != 0) {
        return 1;
    }
    control_.progress.store(1.0);
    return 0;
}
