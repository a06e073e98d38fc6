#include <cstring>

#include "cli/commands.h"

namespace {

constexpr const char* usage_all =
    "Usage: quarnel-cli COMMAND [OPTIONS]\n"
    "Finds deleted files on FAT and NTFS volumes, carves files by content and finds lost\n"
    "partitions. Never writes to the disk or image being scanned.\n"
    "\n"
    "Commands:\n"
    "  disks        list the physical disks (and the images given with --image)\n"
    "  volumes      list the volumes that can be scanned\n"
    "  scan         find deleted files on a volume, and recover them\n"
    "  load         reopen a saved deep-scan result and recover from it\n"
    "  partitions   search a disk for lost NTFS and FAT32 partitions\n"
    "\n"
    "Work from an image of a failing disk where you can: --image FILE adds a disk image as\n"
    "one more disk. Run 'quarnel-cli COMMAND --help' for the options of a command.\n"
    "Exit status: 0 success, 1 the work failed, 2 usage error.\n";

constexpr const char* usage_disks =
    "Usage: quarnel-cli disks [--image FILE]... [--json]\n"
    "Lists the physical disks this user may read, then the images given with --image.\n"
    "  --image FILE   add a disk image (repeatable)\n"
    "  --json         print one JSON document: {\"disks\": [{\"number\", \"name\", \"size\",\n"
    "                 \"bytes_per_sector\", \"sectors_per_track\", \"tracks_per_cylinder\",\n"
    "                 \"cylinders\", \"image\"}]}\n";

constexpr const char* usage_volumes =
    "Usage: quarnel-cli volumes [--image FILE]... [--json]\n"
    "Lists every partition and whole-disk file system of the listed disks, mounted or not.\n"
    "The volume path printed is what 'scan' takes.\n"
    "  --image FILE   add a disk image (repeatable)\n"
    "  --json         print one JSON document: {\"volumes\": [{\"device_name\", \"volume_path\",\n"
    "                 \"label\", \"file_system\", \"root_path\", \"total_bytes\", \"free_bytes\",\n"
    "                 \"partition_number\", \"disk_number\"}]}\n";

constexpr const char* usage_scan =
    "Usage: quarnel-cli scan SOURCE [--partition N] [--image FILE]... [--json]\n"
    "                        [--recover DIR [--flat] [--force]]\n"
    "       quarnel-cli scan SOURCE --deep [--partition N | --whole-disk] [--save FILE.sav]\n"
    "                        [--json] [--recover DIR [--flat]]\n"
    "SOURCE is a volume path as 'volumes' prints it, a block device or a disk image.\n"
    "  --partition N  the volume with this partition number on a disk or image\n"
    "  --recover DIR  write every found file into DIR, keeping the folder tree\n"
    "  --flat         write the files directly into DIR\n"
    "  --force        allow DIR on the scanned volume (may overwrite what you rescue)\n"
    "  --deep         find files by their content, whatever the file system\n"
    "  --whole-disk   deep scan of the whole disk or image\n"
    "  --save FILE    save the deep-scan result for 'load'\n"
    "  --json         print one JSON document\n"
    "Ctrl-C stops the scan and keeps what was found; a second Ctrl-C quits.\n";

constexpr const char* usage_load =
    "Usage: quarnel-cli load FILE.sav [--image FILE]... [--json] [--recover DIR [--flat]]\n"
    "Reads a saved deep-scan result and recovers from the volume, disk or image it names.\n";

constexpr const char* usage_partitions =
    "Usage: quarnel-cli partitions DISK [--image FILE]... [--json] [--repair [--yes]]\n"
    "Reads every sector of DISK (a disk as 'disks' lists it, or an image file) looking for\n"
    "NTFS and FAT32 boot sectors, and lists the partitions found.\n"
    "  --repair       write a new partition table for what was found (asks first; the old\n"
    "                 first sector is saved to a backup file)\n"
    "  --yes          do not ask\n";

}  // namespace

const char* command_help(const std::string& command) {
    if (command == "disks") {
        return usage_disks;
    }
    if (command == "volumes") {
        return usage_volumes;
    }
    if (command == "scan") {
        return usage_scan;
    }
    if (command == "load") {
        return usage_load;
    }
    if (command == "partitions") {
        return usage_partitions;
    }
    return usage_all;
}
