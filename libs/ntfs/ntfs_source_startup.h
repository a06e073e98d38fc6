#pragma once

#include <memory>

#include "libs/ntfs/ntfs_library.h"
#include "platform/block_source.h"

// ntfs_scan_startup over a source the caller already holds: tests and fuzzers feed images
// from memory through it. Same results as ntfs_scan_startup.
int ntfs_scan_startup_source(std::shared_ptr<block_source_c> source, ntfs_context_s* context);
