#include "cli/scan_session.h"
#include "cli/session_listing.h"
#include "engines/fat/fat_result.h"
#include "engines/fat_recovery.h"

namespace {

// Why the FAT reader could not open a volume's root folder, for the user.
std::string fat_open_failure(int32_t code) {
    switch (code) {
        case 0:
            return {};
        case -1:
            return "the volume could not be located on its disk";
        case fat_disk_error:
            return "a sector could not be read (a damaged medium?)";
        case fat_not_ready:
            return "the disk is gone or does not have 512-byte sectors";
        case fat_no_file_system:
            return "its boot sector describes no FAT volume this reader accepts (only 512-byte "
                   "sectors are read)";
        case fat_internal_error:
            return "its root folder lies outside the volume";
        default:
            return "the reader failed";
    }
}

}  // namespace

std::unique_ptr<scan_session_s> make_fat_session() {
    auto session = std::make_unique<scan_session_s>();
    auto engine = std::make_unique<fat_recovery_c>();
    // The command line draws its own progress line.
    engine->set_trace(false);
    fat_recovery_c* fat = engine.get();
    session->engine = std::move(engine);
    session->root_id = 0;
    session->list = [fat](std::pmr::memory_resource* memory) {
        return list_records(
            fat->records(), 0, [](const fat_entry_s& e) { return (e.attr & fat_attr_folder) != 0; },
            [](const fat_entry_s& e) { return (e.attr & fat_attr_deleted) != 0; }, memory);
    };
    session->open_error = [fat]() { return fat_open_failure(fat->open_result()); };
    return session;
}
