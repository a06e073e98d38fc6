#pragma once

#include <QString>
#include <cstdint>
#include <map>
#include <string>

#include "engines/raw_recovery.h"
#include "platform/platform_backend.h"

// What to do with a deep-scan result once it is there, whether scanned or loaded.
struct deep_output_s {
    std::string source;  // as the user named it
    bool json = false;
    bool flat = false;
    bool force = false;
    bool stopped = false;
    bool loaded = false;  // the result came from a ".sav" file
    QString recover_dir;
    location_s location;  // where the scanned bytes lie, for the target-folder check
};

// Finds already written into the output folder (the scan copies them while it reads on).
struct deep_written_s {
    bool folder_checked = false;          // the output folder's check has been made
    std::string refusal;                  // why that check refused the folder (empty: fine)
    std::map<uint64_t, QString> paths;    // target of each record index written
    size_t failed = 0;                    // finds that could not be written
    std::map<std::string, bool> folders;  // extension folders made (true) or not (false)
};

// Writes one find into the output folder (its extension's folder unless flat), noting the
// result in `written`.
void recover_deep_find(raw_recovery_c& engine, const deep_output_s& output,
                       const raw_record_s& record, deep_written_s& written);

// Lists the finds grouped by extension (or as JSON) and recovers them when asked, all but
// those already in `written`. Returns the exit status.
int report_deep_result(raw_recovery_c& engine, const deep_output_s& output,
                       deep_written_s written = {});
