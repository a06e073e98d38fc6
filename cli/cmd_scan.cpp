// `scan`: finds deleted entries on a FAT or NTFS volume (or hands over to the deep scan),
// lists them and writes them out.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <map>
#include <memory_resource>
#include <set>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/recover_target.h"
#include "cli/scan_options.h"
#include "cli/scan_session.h"
#include "discovery/volume_item.h"
#include "engines/fat/sector_access.h"
#include "engines/record_arena.h"
#include "platform/platform_backend.h"

namespace {

constexpr char16_t orphan_folder_text[] = u"_orphaned";
constexpr QStringView orphan_folder(orphan_folder_text, std::size(orphan_folder_text) - 1);
constexpr unsigned long poll_ms = 200;

std::atomic<int> interrupts{0};

// First Ctrl-C: stop the scan like the stop button; the second one quits.
void on_interrupt(int) {
    if (interrupts.fetch_add(1) >= 1) {
        _exit(130);
    }
}

struct scan_args_s {
    scan_options_s options;
    int partition = -1;  // -1: not given
};

bool parse_number(const std::string& text, int& out) {
    if (text.empty() || text.size() > 6 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    out = std::stoi(text);
    return true;
}

// 0, 1 (an image cannot be read) or 2 (usage).
int parse_scan_args(const std::vector<std::string>& args, scan_args_s& out) {
    scan_options_s& o = out.options;
    bool have_save = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool has_value = i + 1 < args.size();
        if (a == "--json") {
            o.json = true;
        } else if (a == "--flat") {
            o.flat = true;
        } else if (a == "--force") {
            o.force = true;
        } else if (a == "--deep") {
            o.deep = true;
        } else if (a == "--whole-disk") {
            o.whole_disk = true;
        } else if (a == "--partition" && has_value) {
            if (!parse_number(args[++i], out.partition)) {
                std::fprintf(stderr, "quarnel-cli scan: --partition takes a number, not '%s'\n",
                             args[i].c_str());
                return 2;
            }
        } else if (a == "--recover" && has_value) {
            o.recover_dir = QString::fromStdString(args[++i]);
        } else if (a == "--save" && has_value) {
            o.save_path = QString::fromStdString(args[++i]);
            have_save = true;
        } else if (a == "--image" && has_value) {
            if (add_image(args[++i]) != 0) {
                std::fprintf(stderr,
                             "quarnel-cli scan: cannot read the image '%s' (is it a regular file "
                             "you may read?)\n",
                             args[i].c_str());
                return 1;
            }
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "quarnel-cli scan: unknown or incomplete option '%s'\n",
                         a.c_str());
            return 2;
        } else if (o.source.empty()) {
            o.source = a;
        } else {
            std::fprintf(stderr, "quarnel-cli scan: unexpected argument '%s'\n", a.c_str());
            return 2;
        }
    }
    if (o.source.empty()) {
        std::fputs(
            "quarnel-cli scan: which volume? Give a volume path as 'quarnel-cli volumes' "
            "prints it, a block device or a disk image.\n",
            stderr);
        return 2;
    }
    if ((o.flat || o.force) && o.recover_dir.isEmpty()) {
        std::fputs("quarnel-cli scan: --flat and --force only go with --recover DIR\n", stderr);
        return 2;
    }
    if ((o.whole_disk || have_save) && !o.deep) {
        std::fputs("quarnel-cli scan: --whole-disk and --save only go with --deep\n", stderr);
        return 2;
    }
    if (o.whole_disk && out.partition >= 0) {
        std::fputs("quarnel-cli scan: give either --partition or --whole-disk\n", stderr);
        return 2;
    }
    return 0;
}

std::string real_path(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

std::string strip_slash(std::string path) {
    if (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) {
        path.pop_back();
    }
    return path;
}

// A disk image named as SOURCE ("IMG", or "IMG@N" for its partition N) is registered like
// --image.
void register_source_image(std::string source) {
    struct stat info {};
    if (::stat(source.c_str(), &info) != 0) {
        size_t at = source.rfind('@');
        if (at == std::string::npos) {
            return;
        }
        source.resize(at);
        if (::stat(source.c_str(), &info) != 0) {
            return;
        }
    }
    if (!S_ISREG(info.st_mode)) {
        return;
    }
    std::string absolute = real_path(source);
    for (const std::string& known : image_paths()) {
        if (real_path(known) == absolute) {
            return;
        }
    }
    add_image(source);
}

// Finds the volume SOURCE names. 0, 1 (nothing there) or 2 (ambiguous: --partition needed).
int resolve_volume(const scan_args_s& args, volume_probe_s& out) {
    const std::string source = strip_slash(args.options.source);
    const std::string absolute = real_path(source);
    std::vector<volume_probe_s> volumes = list_volumes();
    std::vector<disk_probe_s> disks = list_disks();
    int32_t disk_number = -1;
    for (size_t i = 0; i < disks.size(); ++i) {
        if (disks[i].path == source || disks[i].path == absolute) {
            disk_number = int32_t(i);
        }
    }
    if (disk_number < 0) {
        for (const volume_probe_s& v : volumes) {
            if (strip_slash(v.volume_path) == source || v.device_name == source ||
                v.device_name == absolute) {
                if (args.partition >= 0 && args.partition != v.partition_number) {
                    std::fprintf(stderr,
                                 "quarnel-cli scan: '%s' is partition %d, not partition %d\n",
                                 source.c_str(), v.partition_number, args.partition);
                    return 2;
                }
                out = v;
                return 0;
            }
        }
        std::fprintf(stderr,
                     "quarnel-cli scan: '%s' is not a volume, disk or image that can be read. "
                     "'quarnel-cli volumes' lists what can be scanned; an image needs to be a "
                     "readable file.\n",
                     source.c_str());
        return 1;
    }
    // A disk or image: pick among its volumes.
    std::vector<volume_probe_s> on_disk;
    for (const volume_probe_s& v : volumes) {
        if (v.disk_number == disk_number) {
            on_disk.push_back(v);
        }
    }
    for (const volume_probe_s& v : on_disk) {
        if (args.partition >= 0 && v.partition_number == args.partition) {
            out = v;
            return 0;
        }
    }
    if (args.partition < 0 && on_disk.size() == 1) {
        out = on_disk.front();
        return 0;
    }
    if (on_disk.empty()) {
        std::fprintf(stderr,
                     "quarnel-cli scan: no volume was found on '%s'. A deep scan "
                     "(--deep --whole-disk) reads the whole disk by content.\n",
                     source.c_str());
        return 1;
    }
    std::fprintf(stderr,
                 "quarnel-cli scan: %s'%s' holds these volumes; pick one with "
                 "--partition N:\n",
                 args.partition >= 0 ? "there is no such partition; " : "", source.c_str());
    for (const volume_probe_s& v : on_disk) {
        std::fprintf(stderr, "  --partition %d  %-6s %s\n", v.partition_number,
                     v.file_system.empty() ? "-" : v.file_system.c_str(), v.label.c_str());
    }
    return 2;
}

// The whole disk or image that SOURCE is or lies on.
int resolve_whole_disk(const std::string& source, location_s& out) {
    location_s where;
    if (resolve_location(strip_slash(source), where) != 0 &&
        resolve_location(real_path(source), where) != 0) {
        std::fprintf(stderr,
                     "quarnel-cli scan: '%s' is not a disk, image or volume that can be "
                     "read\n",
                     source.c_str());
        return 1;
    }
    if (!where.whole_disk && resolve_location(where.disk_path, where) != 0) {
        std::fprintf(stderr, "quarnel-cli scan: cannot find the disk that holds '%s'\n",
                     source.c_str());
        return 1;
    }
    where.whole_disk = true;
    out = where;
    return 0;
}

// "YYYY-MM-DD hh:mm:ss" in local time into `text`, or "-" when unset or unconvertible.
void format_date(int64_t seconds, char (&text)[32]) {
    std::strcpy(text, "-");
    if (seconds == 0) {
        return;
    }
    std::time_t when = std::time_t(seconds);
    std::tm local{};
    if (::localtime_r(&when, &local) == nullptr) {
        return;
    }
    if (std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local) == 0) {
        text[0] = '\0';
    }
}

constexpr uint32_t no_item = UINT32_MAX;

// A found entry with where it sits: its path is the names from the root (or from the top of
// what is known of an orphan's chain) down to the entry itself.
struct placed_item_s {
    const found_item_s* item = nullptr;
    size_t path_at = 0;      // where the path starts in placement_s::text
    size_t path_length = 0;  // UTF-16 units
    uint32_t depth = 0;      // folders above the entry on its chain, without the root
    bool orphaned = false;
};

// Every found entry placed and sorted by path. The paths share one text and each entry only
// knows its folder's index, so that 100,000s of entries cost a few allocations, not one
// string and one chain each.
struct placement_s {
    explicit placement_s(std::pmr::memory_resource* memory)
        : folder_of(memory), text(memory), placed(memory) {}

    const std::pmr::vector<found_item_s>* items = nullptr;
    std::pmr::vector<uint32_t> folder_of;  // per item: index of the item of its folder, or no_item
    std::pmr::u16string text;
    std::pmr::vector<placed_item_s> placed;  // by path, then by id

    QStringView path(const placed_item_s& p) const {
        return QStringView(text.data() + p.path_at, qsizetype(p.path_length));
    }

    // The folders above `p` from the top down, without the root.
    void chain(const placed_item_s& p, std::vector<const found_item_s*>& out) const {
        out.resize(p.depth);
        uint32_t at = uint32_t(p.item - items->data());
        for (uint32_t i = p.depth; i > 0; --i) {
            at = folder_of[at];
            out[i - 1] = &(*items)[at];
        }
    }
};

placement_s place_items(const std::pmr::vector<found_item_s>& items, uint64_t root_id,
                        std::pmr::memory_resource* memory) {
    placement_s out(memory);
    out.items = &items;
    const size_t count = items.size();
    {
        // Id → index, sorted for lookup; the first item of an id wins.
        std::pmr::vector<std::pair<uint64_t, uint32_t>> by_id(count, memory);
        for (size_t i = 0; i < count; ++i) {
            by_id[i] = {items[i].id, uint32_t(i)};
        }
        std::sort(by_id.begin(), by_id.end());
        out.folder_of.assign(count, no_item);
        for (size_t i = 0; i < count; ++i) {
            auto found = std::lower_bound(by_id.begin(), by_id.end(),
                                          std::make_pair(items[i].parent_id, uint32_t(0)));
            if (found != by_id.end() && found->first == items[i].parent_id) {
                out.folder_of[i] = found->second;
            }
        }
    }
    // Walks each chain up to the root, or to a missing folder or a loop (orphans). `seen`
    // marks the chain's members with the index of the entry walked from.
    std::pmr::vector<uint32_t> seen(count, no_item, memory);
    std::pmr::vector<placed_item_s>& placed = out.placed;
    placed.reserve(count);
    const size_t orphan_length = size_t(orphan_folder.size());
    size_t text_length = 0;
    for (size_t i = 0; i < count; ++i) {
        const found_item_s& item = items[i];
        if (item.id == root_id) {
            continue;
        }
        placed_item_s p;
        p.item = &item;
        p.orphaned = true;
        seen[i] = uint32_t(i);
        uint64_t parent = item.parent_id;
        uint32_t at = out.folder_of[i];
        size_t length = size_t(item.name.size());
        while (true) {
            if (parent == root_id) {
                p.orphaned = false;
                break;
            }
            if (at == no_item || seen[at] == uint32_t(i)) {
                break;  // missing, or a loop of parents
            }
            seen[at] = uint32_t(i);
            ++p.depth;
            length += size_t(items[at].name.size()) + 1;
            parent = items[at].parent_id;
            at = out.folder_of[at];
        }
        if (p.orphaned) {
            length += orphan_length + 1;
        }
        p.path_at = text_length;
        p.path_length = length;
        text_length += p.path_length;
        placed.push_back(p);
    }
    out.text.resize(text_length);
    std::vector<const found_item_s*> chain;
    for (const placed_item_s& p : placed) {
        char16_t* write = out.text.data() + p.path_at;
        auto put = [&write](QStringView part) {
            write = std::copy(part.utf16(), part.utf16() + part.size(), write);
        };
        if (p.orphaned) {
            put(orphan_folder);
            *write++ = u'/';
        }
        out.chain(p, chain);
        for (const found_item_s* link : chain) {
            put(link->name);
            *write++ = u'/';
        }
        put(p.item->name);
    }
    std::sort(placed.begin(), placed.end(), [&out](const placed_item_s& a, const placed_item_s& b) {
        const int order = out.path(a).compare(out.path(b));
        return order != 0 ? order < 0 : a.item->id < b.item->id;
    });
    return out;
}

// Writes found files into a folder, keeping the tree or flat, never over another file.
class recovery_writer_c {
public:
    recovery_writer_c(recovery_base_c& engine, const placement_s& placement, const QString& dir,
                      bool flat)
        : engine_(engine), placement_(placement), dir_(dir), flat_(flat) {}

    // 0 when the file was written completely.
    int write(const placed_item_s& placed, QString& target) {
        QString folder = dir_;
        if (!flat_) {
            if (placed.orphaned && folder_for(orphan_key, orphan_folder, folder) != 0) {
                return -1;
            }
            placement_.chain(placed, chain_);
            for (const found_item_s* link : chain_) {
                if (folder_for(link->id, link->name, folder) != 0) {
                    return -1;
                }
            }
        }
        target = unique_target_path(folder, safe_file_name(placed.item->name.toString()));
        return engine_.recover_file(placed.item->id, target) == 0 ? 0 : -1;
    }

private:
    static constexpr uint64_t orphan_key = UINT64_MAX;

    // The folder made for found folder `id` inside `folder`; `folder` becomes it.
    int folder_for(uint64_t id, QStringView name, QString& folder) {
        auto key = std::make_pair(folder, id);
        auto made = made_.find(key);
        if (made != made_.end()) {
            folder = made->second;
            return 0;
        }
        QString safe = safe_file_name(name.toString());
        QString path = folder + u'/' + safe;
        struct stat info {};
        bool exists = ::lstat(QFile::encodeName(path).constData(), &info) == 0;
        // An existing real folder is reused unless another found folder took it already;
        // anything else there gets a name of its own.
        if (exists && !(S_ISDIR(info.st_mode) && !claimed_.count(path))) {
            path = unique_target_path(folder, safe);
            exists = false;
        }
        if (!exists && !QDir().mkdir(path)) {
            return -1;
        }
        claimed_.insert(path);
        made_.emplace(key, path);
        folder = path;
        return 0;
    }

    recovery_base_c& engine_;
    const placement_s& placement_;
    std::vector<const found_item_s*> chain_;
    QString dir_;
    bool flat_;
    std::map<std::pair<QString, uint64_t>, QString> made_;
    std::set<QString> claimed_;
};

// A name read from the disk as it may go to a terminal: control characters (an escape
// sequence could rewrite the screen) become "?".
QByteArray printable(QStringView name) {
    auto control = [](QChar c) {
        const char16_t u = c.unicode();
        return u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0);
    };
    if (std::none_of(name.begin(), name.end(), control)) {
        return name.toUtf8();
    }
    QString safe = name.toString();
    for (QChar& c : safe) {
        if (control(c)) {
            c = u'?';
        }
    }
    return safe.toUtf8();
}

// Collects stdout's text in large pieces: one write per piece, not one per line.
class output_buffer_c {
public:
    output_buffer_c() { text_.reserve(piece_bytes + 4096); }
    ~output_buffer_c() { flush(); }
    output_buffer_c(const output_buffer_c&) = delete;
    output_buffer_c& operator=(const output_buffer_c&) = delete;

    void append(const char* data, size_t len) {
        text_.append(data, len);
        if (text_.size() >= piece_bytes) {
            flush();
        }
    }
    void flush() {
        if (!text_.empty()) {
            std::fwrite(text_.data(), 1, text_.size(), stdout);
            text_.clear();
        }
    }

private:
    // Big enough to make writes rare, small enough to stay in the cache.
    static constexpr size_t piece_bytes = 64 * 1024;
    std::string text_;
};

void print_progress(const std::string& what, recovery_base_c& engine, bool done) {
    std::fprintf(stderr, "\r\033[KScanning %s: %3d%%  %llu entries read, %llu found", what.c_str(),
                 int(engine.get_progress() * 100.0 + 0.5),
                 static_cast<unsigned long long>(engine.scanned_count()),
                 static_cast<unsigned long long>(engine.found_count()));
    if (done) {
        std::fputc('\n', stderr);
    }
    std::fflush(stderr);
}

// Runs the engine's thread to its end, drawing progress and passing on Ctrl-C.
void run_engine(recovery_base_c& engine, const std::string& what) {
    bool terminal = ::isatty(STDERR_FILENO) != 0;
    engine.start();
    bool stop_sent = false;
    while (!engine.wait(poll_ms)) {
        if (interrupts.load() > 0 && !stop_sent) {
            engine.set_stop(stop_user);
            stop_sent = true;
            std::fputs("\nStopping; what was found so far is kept (Ctrl-C again quits).\n", stderr);
        }
        if (terminal) {
            print_progress(what, engine, false);
        }
    }
    engine.set_progress(1.0);
    if (terminal) {
        print_progress(what, engine, true);
    }
}

}  // namespace

int cmd_scan(const std::vector<std::string>& args) {
    scan_args_s parsed;
    if (int status = parse_scan_args(args, parsed)) {
        return status;
    }
    scan_options_s& options = parsed.options;
    register_source_image(strip_slash(options.source));

    volume_probe_s volume;
    if (options.deep && options.whole_disk) {
        if (int status = resolve_whole_disk(options.source, options.location)) {
            return status;
        }
        volume.volume_path = options.location.disk_path;
    } else {
        if (int status = resolve_volume(parsed, volume)) {
            return status;
        }
        if (resolve_location(volume.volume_path, options.location) != 0) {
            std::fprintf(stderr, "quarnel-cli scan: cannot locate the volume '%s'\n",
                         volume.volume_path.c_str());
            return 1;
        }
        options.volume_path = volume.volume_path;
        options.file_system = volume.file_system;
    }

    if (!options.recover_dir.isEmpty()) {
        std::string why;
        if (check_target_dir(options.recover_dir, options.location.disk_path,
                             options.location.start_offset, options.location.length, why) != 0) {
            if (!options.force) {
                std::fprintf(stderr, "quarnel-cli scan: %s.\n", why.c_str());
                return 1;
            }
            std::fprintf(stderr, "quarnel-cli scan: warning, --force given: %s.\n", why.c_str());
        }
    }

    std::unique_ptr<block_source_c> probe = open_location(options.location);
    uint8_t first_sector[512];
    if (!probe || read_exact(*probe, 0, first_sector, sizeof(first_sector)) != 0) {
        std::fprintf(stderr,
                     "quarnel-cli scan: cannot read '%s' (%s). Reading disks needs root; an "
                     "image needs read permission.\n",
                     options.source.c_str(), options.location.disk_path.c_str());
        return 1;
    }
    probe.reset();

    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);

    if (options.deep) {
        open_sector_drives();
        return run_deep_scan(options);
    }

    std::unique_ptr<scan_session_s> session;
    const std::string& fs = volume.file_system;
    bool sector_layer = false;  // only the FAT reader reads through the sector layer
    // A volume nobody recognised may still be NTFS with a damaged boot sector: the reader
    // falls back to the backup copy at the volume's end.
    if (fs == "NTFS" || fs.empty()) {
        session = make_ntfs_session();
    } else if (fs.rfind("FAT", 0) == 0) {
        session = make_fat_session();
        sector_layer = true;
    } else {
        std::fprintf(stderr,
                     "quarnel-cli scan: '%s' holds a %s file system; deleted entries can be "
                     "listed only on FAT12/16/32 and NTFS volumes. --deep finds files by their "
                     "content on any volume.\n",
                     volume.volume_path.c_str(), fs.c_str());
        return 1;
    }
    if (!session || !session->engine) {
        std::fputs(
            "quarnel-cli scan: this scan engine is not available; --deep finds files by "
            "their content instead.\n",
            stderr);
        return 1;
    }

    if (sector_layer) {
        open_sector_drives();
    }
    recovery_base_c& engine = *session->engine;
    engine.set_volume(volume_item_from_probe(volume));
    run_engine(engine, volume.volume_path);
    bool stopped = engine.is_stopped() == stop_user;

    if (std::string why = session->open_error(); !why.empty()) {
        std::fprintf(stderr,
                     "quarnel-cli scan: %s on '%s': %s. --deep finds files by their content.\n",
                     fs.empty() ? "no FAT or NTFS file system could be read"
                                : ("no " + fs + " file system could be read").c_str(),
                     volume.volume_path.c_str(), why.c_str());
        return 1;
    }

    // The listing's 100,000s of entries, paths and indexes live in one arena of large blocks.
    record_arena_c listing_memory;
    const std::pmr::vector<found_item_s> items = session->list(&listing_memory);
    const placement_s placement = place_items(items, session->root_id, &listing_memory);
    const std::pmr::vector<placed_item_s>& placed = placement.placed;

    int status = 0;
    uint64_t written = 0;
    uint64_t failed = 0;
    std::map<const found_item_s*, QString> targets;  // for --json only
    if (!options.recover_dir.isEmpty()) {
        if (!QDir().mkpath(options.recover_dir)) {
            std::fprintf(stderr, "quarnel-cli scan: cannot create the folder '%s'\n",
                         options.recover_dir.toUtf8().constData());
            return 1;
        }
        recovery_writer_c writer(engine, placement, QDir(options.recover_dir).absolutePath(),
                                 options.flat);
        for (const placed_item_s& p : placed) {
            if (p.item->folder) {
                continue;
            }
            QString target;
            if (writer.write(p, target) == 0) {
                ++written;
            } else {
                ++failed;
                std::fprintf(stderr, "quarnel-cli scan: %s could not be recovered completely%s\n",
                             printable(placement.path(p)).constData(),
                             QFileInfo::exists(target) ? " (the partial file is kept)" : "");
            }
            if (options.json) {
                targets[p.item] = target;
            }
        }
        if (failed > 0) {
            status = 1;
        }
    }

    uint64_t deleted_files = 0;
    for (const placed_item_s& p : placed) {
        if (!p.item->folder && p.item->deleted) {
            ++deleted_files;
        }
    }

    if (options.json) {
        QJsonArray entries;
        for (const placed_item_s& p : placed) {
            const found_item_s& item = *p.item;
            QJsonObject o;
            o["path"] = placement.path(p).toString();
            o["name"] = item.name.toString();
            o["id"] = static_cast<qint64>(item.id);
            o["parent_id"] = static_cast<qint64>(item.parent_id);
            o["size"] = static_cast<qint64>(item.size);
            o["modified"] = static_cast<qint64>(item.date1);
            o["created"] = static_cast<qint64>(item.date2);
            o["folder"] = item.folder;
            o["deleted"] = item.deleted;
            o["orphaned"] = p.orphaned;
            auto target = targets.find(p.item);
            if (target != targets.end()) {
                o["recovered_to"] = target->second;
            }
            entries.append(o);
        }
        QJsonObject document{{"source", QString::fromStdString(options.source)},
                             {"volume_path", QString::fromStdString(volume.volume_path)},
                             {"file_system", QString::fromStdString(volume.file_system)},
                             {"stopped", stopped},
                             {"entries", entries}};
        if (!options.recover_dir.isEmpty()) {
            document["recovered"] = static_cast<qint64>(written);
            document["incomplete"] = static_cast<qint64>(failed);
        }
        std::fputs(QJsonDocument(document).toJson(QJsonDocument::Indented).constData(), stdout);
    } else {
        output_buffer_c out;
        char line[256];
        int len = std::snprintf(line, sizeof(line), "%-7s %-6s %12s  %-19s  %-19s  %10s  %s\n",
                                "STATE", "TYPE", "SIZE", "MODIFIED", "CREATED", "ID", "PATH");
        out.append(line, size_t(len));
        char modified[32];
        char created[32];
        for (const placed_item_s& p : placed) {
            const found_item_s& item = *p.item;
            format_date(item.date1, modified);
            format_date(item.date2, created);
            len = std::snprintf(line, sizeof(line), "%-7s %-6s %12llu  %-19s  %-19s  %10llu  ",
                                item.deleted ? "deleted" : "live", item.folder ? "folder" : "file",
                                static_cast<unsigned long long>(item.size), modified, created,
                                static_cast<unsigned long long>(item.id));
            out.append(line, size_t(std::min(len, int(sizeof(line)) - 1)));
            const QByteArray path = printable(placement.path(p));
            out.append(path.constData(), size_t(path.size()));
            out.append("\n", 1);
        }
    }
    std::fflush(stdout);

    if (stopped) {
        std::fputs(
            "quarnel-cli scan: the scan was stopped; the list holds what was found until "
            "then.\n",
            stderr);
    }
    if (deleted_files == 0) {
        std::fprintf(stderr,
                     "quarnel-cli scan: no deleted files were found on '%s'. A deep scan "
                     "(--deep) looks for files by their content and may find more.\n",
                     volume.volume_path.c_str());
    }
    if (!options.recover_dir.isEmpty()) {
        std::fprintf(stderr, "quarnel-cli scan: %llu file(s) recovered into %s",
                     static_cast<unsigned long long>(written),
                     options.recover_dir.toUtf8().constData());
        if (failed > 0) {
            std::fprintf(stderr, ", %llu incomplete", static_cast<unsigned long long>(failed));
        }
        std::fputs("\n", stderr);
    }
    return status;
}
