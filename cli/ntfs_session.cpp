#include "cli/scan_session.h"

std::unique_ptr<scan_session_s> make_ntfs_session() { return nullptr; }
