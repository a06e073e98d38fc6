#include "cli/scan_session.h"
#include "cli/session_listing.h"
#include "engines/ntfs_recovery.h"

namespace {

constexpr uint64_t ntfs_root_id = 5;

// Why the NTFS reader could not open a volume, for the user.
std::string ntfs_open_failure(int32_t code) {
    switch (code) {
        case 0:
            return {};
        case ntfs_err_open:
            return "the volume cannot be opened or read";
        case ntfs_err_not_ntfs:
            return "neither its boot sector nor the backup copy at its end describes an NTFS "
                   "volume";
        case ntfs_err_bad_mft:
            return "its master file table is damaged beyond use";
        case ntfs_err_read:
            return "a read of the volume failed (a damaged medium?)";
        default:
            return "the reader failed";
    }
}

}  // namespace

std::unique_ptr<scan_session_s> make_ntfs_session() {
    auto session = std::make_unique<scan_session_s>();
    auto engine = std::make_unique<ntfs_recovery_c>();
    ntfs_recovery_c* ntfs = engine.get();
    session->engine = std::move(engine);
    session->root_id = ntfs_root_id;
    session->list = [ntfs](std::pmr::memory_resource* memory) {
        return list_records(
            ntfs->records(), ntfs_root_id,
            [](const ntfs_entry_s& e) { return (e.flags & ntfs_flag_folder) != 0; },
            [](const ntfs_entry_s& e) { return (e.flags & ntfs_flag_deleted) != 0; }, memory);
    };
    session->open_error = [ntfs]() { return ntfs_open_failure(ntfs->open_result()); };
    return session;
}
