#pragma once

#include <QString>
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

// Lists the finds grouped by extension (or as JSON) and recovers them when asked.
// Returns the exit status.
int report_deep_result(raw_recovery_c& engine, const deep_output_s& output);
