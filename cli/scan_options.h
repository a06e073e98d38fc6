#pragma once

#include <QString>
#include <string>
#include <vector>

#include "platform/platform_backend.h"

// Everything `quarnel-cli scan` was asked to do.
struct scan_options_s {
    std::string source;       // as given
    location_s location;      // resolved volume (or whole disk with --whole-disk)
    std::string volume_path;  // platform volume path of the location (empty for a whole disk)
    std::string file_system;  // of the volume, as list_volumes names it
    bool deep = false;
    bool whole_disk = false;
    bool json = false;
    bool flat = false;
    bool force = false;
    QString recover_dir;  // empty: list only
    QString save_path;    // --save FILE.sav (deep scan only)
};

// Runs a deep scan as `scan --deep` asks. Returns the exit status (0, 1).
int run_deep_scan(const scan_options_s& options);
