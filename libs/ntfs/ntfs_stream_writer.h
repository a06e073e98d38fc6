#pragma once

#include <cstdint>

#include "libs/ntfs/ntfs_file_info.h"

class ntfs_volume_c;

// Writes a gathered data stream to the open, empty file `fd`: resident bytes as they are, runs
// read from the volume, holes as holes, LZNT1 units decompressed, cut at the real size.
// Returns 0 or a negative ntfs_err_* code; `written` counts the bytes that reached `fd`.
int write_data_stream(ntfs_volume_c& volume, const ntfs_data_stream_s& stream, int fd,
                      uint64_t& written);
