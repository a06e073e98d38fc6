#pragma once

#include <string>

#include "partitions/partition_table.h"

// Folder for the copies of replaced first sectors: $XDG_STATE_HOME/quarnel, else
// $HOME/.local/state/quarnel. Empty when neither variable is set.
std::string sector_backup_folder();

// Saves `sector` (taken from `disk_path`) to a new file in the backup folder, named after
// the disk and the local time, flushed to its medium before this returns. 0 with
// `backup_path` set, or -1 with `error` set; the disk must not be written then.
int save_sector_backup(const std::string& disk_path, const sector_bytes_t& sector,
                       std::string& backup_path, std::string& error);
