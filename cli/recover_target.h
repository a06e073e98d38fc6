#pragma once

#include <QString>
#include <string>

// Turns a name read from a disk into a safe single file name: no path separators, no NUL or
// control characters, never "." or "..", at most 255 bytes of UTF-8 (the extension is kept).
QString safe_file_name(const QString& untrusted);

// `dir`/`name`, or "stem (2).ext", "stem (3).ext", … when that file already exists, so that
// no recovered file overwrites another.
QString unique_target_path(const QString& dir, const QString& name);

// 0 when `dir` may receive files recovered from the volume at `source_location`, -1 (with a
// message in `why`) when writing there could overwrite the data being rescued.
int check_target_dir(const QString& dir, const std::string& source_disk_path, uint64_t source_start,
                     uint64_t source_length, std::string& why);
