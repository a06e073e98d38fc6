#include "libs/ntfs/ntfs_stream_writer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "libs/ntfs/ntfs_library.h"
#include "libs/ntfs/ntfs_lznt1.h"
#include "libs/ntfs/ntfs_volume.h"

namespace {

constexpr size_t copy_piece = 1u << 20;
constexpr uint32_t max_compression_unit_log2 = 8;  // 256 clusters; NTFS itself uses 4

int write_all(int fd, const uint8_t* data, size_t len, uint64_t& written) {
    while (len > 0) {
        const ssize_t n = ::write(fd, data, len);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return ntfs_err_target;
        }
        data += n;
        len -= static_cast<size_t>(n);
        written += static_cast<uint64_t>(n);
    }
    return 0;
}

// Leaves a hole of `len` bytes in the target; the final ftruncate fixes its size.
int skip_hole(int fd, uint64_t len) {
    return ::lseek(fd, static_cast<off_t>(len), SEEK_CUR) < 0 ? ntfs_err_target : 0;
}

int write_plain(ntfs_volume_c& volume, const ntfs_data_stream_s& d, int fd, uint64_t& written) {
    const uint64_t cs = volume.boot().cluster_size;
    // A real stream's runs cover its whole size; past the initialized size they read as
    // zeros. A size beyond the runs is a damaged or hostile record.
    if (runs_end_vcn(d.runs) * cs < d.data_size) {
        return ntfs_err_bad_runs;
    }
    // A piece never spans two runs: the buffer need not be larger than the longest stored
    // run, nor than the file (most recovered files are small). It is not zeroed first:
    // each piece is read into it before it is written out.
    uint64_t longest_run = 0;
    for (const ntfs_run_s& run : d.runs) {
        if (run.lcn != ntfs_run_hole) {
            longest_run =
                std::max(longest_run, std::min<uint64_t>(run.length, copy_piece / cs + 1));
        }
    }
    const size_t buffer_bytes =
        static_cast<size_t>(std::min<uint64_t>({copy_piece, d.initialized_size, longest_run * cs}));
    const auto buffer = std::make_unique_for_overwrite<uint8_t[]>(buffer_bytes);
    uint64_t pos = 0;
    while (pos < d.initialized_size) {
        const uint64_t vcn = pos / cs;
        const int64_t index = find_run(d.runs, vcn);
        if (index < 0) {
            return ntfs_err_bad_runs;
        }
        const ntfs_run_s& run = d.runs[static_cast<size_t>(index)];
        const uint64_t run_end = std::min((run.vcn + run.length) * cs, d.initialized_size);
        if (run.lcn == ntfs_run_hole) {
            if (skip_hole(fd, run_end - pos) != 0) {
                return ntfs_err_target;
            }
            pos = run_end;
            continue;
        }
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(run_end - pos, copy_piece));
        const int r = volume.read_stream(d.runs, pos, buffer.get(), piece);
        if (r != 0) {
            return r == -2 ? ntfs_err_bad_runs : ntfs_err_read;
        }
        if (write_all(fd, buffer.get(), piece, written) != 0) {
            return ntfs_err_target;
        }
        pos += piece;
    }
    return 0;
}

int write_compressed(ntfs_volume_c& volume, const ntfs_data_stream_s& d, int fd,
                     uint64_t& written) {
    if (d.compression_unit > max_compression_unit_log2) {
        return ntfs_err_bad_runs;
    }
    const uint64_t cs = volume.boot().cluster_size;
    const uint64_t unit = 1ull << d.compression_unit;
    const uint64_t unit_bytes = unit * cs;
    if (unit_bytes > 64ull * 1024 * 1024) {
        return ntfs_err_bad_runs;
    }
    const uint64_t covered = runs_end_vcn(d.runs) * cs;
    if (covered < d.data_size) {
        return ntfs_err_bad_runs;
    }
    std::vector<uint8_t> packed(unit_bytes);
    std::vector<uint8_t> plain(unit_bytes);
    uint64_t pos = 0;
    while (pos < d.data_size) {
        const uint64_t first_vcn = pos / cs;  // pos is always unit-aligned here
        const int64_t index = find_run(d.runs, first_vcn);
        if (index < 0) {
            return ntfs_err_bad_runs;
        }
        const ntfs_run_s& head = d.runs[static_cast<size_t>(index)];
        // A hole spanning whole units: skip them all at once, however long the hole.
        if (head.lcn == ntfs_run_hole && head.vcn + head.length >= first_vcn + unit) {
            const uint64_t units = (head.vcn + head.length - first_vcn) / unit;
            const uint64_t span = std::min(units * unit_bytes, d.data_size - pos);
            if (skip_hole(fd, span) != 0) {
                return ntfs_err_target;
            }
            pos += span;
            continue;
        }
        // Count the clusters stored for this unit: all of them means it was kept
        // uncompressed, fewer means LZNT1 data followed by a hole.
        uint64_t stored = 0;
        for (uint64_t v = first_vcn; v < first_vcn + unit;) {
            const int64_t i = find_run(d.runs, v);
            if (i < 0) {
                break;
            }
            const ntfs_run_s& r = d.runs[static_cast<size_t>(i)];
            const uint64_t take = std::min(r.vcn + r.length, first_vcn + unit) - v;
            if (r.lcn != ntfs_run_hole) {
                stored += take;
            }
            v += take;
        }
        const size_t out_len = static_cast<size_t>(std::min(unit_bytes, d.data_size - pos));
        if (stored == 0) {
            if (skip_hole(fd, out_len) != 0) {
                return ntfs_err_target;
            }
            pos += out_len;
            continue;
        }
        const size_t packed_len = static_cast<size_t>(std::min(unit_bytes, covered - pos));
        std::fill(packed.begin() + static_cast<std::ptrdiff_t>(packed_len), packed.end(), 0);
        if (volume.read_stream(d.runs, pos, packed.data(), packed_len) != 0) {
            return ntfs_err_read;
        }
        const uint8_t* source = packed.data();
        if (stored < unit) {
            if (lznt1_decompress(packed.data(), static_cast<size_t>(stored * cs), plain.data(),
                                 static_cast<size_t>(unit_bytes)) != 0) {
                return ntfs_err_bad_runs;
            }
            source = plain.data();
        }
        if (write_all(fd, source, out_len, written) != 0) {
            return ntfs_err_target;
        }
        pos += out_len;
    }
    return 0;
}

}  // namespace

int write_data_stream(ntfs_volume_c& volume, const ntfs_data_stream_s& d, int fd,
                      uint64_t& written) {
    written = 0;
    int result = 0;
    if (d.resident) {
        result = write_all(fd, d.resident_bytes.data(), d.resident_bytes.size(), written);
    } else if (!d.runs_ok) {
        return ntfs_err_bad_runs;
    } else if (d.compressed) {
        result = write_compressed(volume, d, fd, written);
    } else {
        result = write_plain(volume, d, fd, written);
    }
    if (result != 0) {
        return result;
    }
    // Holes and the zeros past the initialized size end up as the file's tail. When every
    // byte was written (the target was opened empty), the file has its size already.
    if (written != d.data_size && ::ftruncate(fd, static_cast<off_t>(d.data_size)) != 0) {
        return ntfs_err_target;
    }
    return 0;
}
