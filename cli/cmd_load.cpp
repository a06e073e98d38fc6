// `load`: reopens a saved deep-scan result, finds the device it names and recovers from it.

#include <QFile>
#include <cstdio>

#include "cli/commands.h"
#include "cli/deep_result.h"
#include "engines/raw_recovery.h"
#include "platform/platform_backend.h"

namespace {

struct load_args_s {
    std::string result_path;
    deep_output_s output;
};

// Returns 0, 1 (an image cannot be read) or 2 (usage).
int parse_load_args(const std::vector<std::string>& args, load_args_s& out) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--json") {
            out.output.json = true;
        } else if (arg == "--flat") {
            out.output.flat = true;
        } else if (arg == "--force") {
            out.output.force = true;
        } else if (arg == "--image" && i + 1 < args.size()) {
            if (add_image(args[++i]) != 0) {
                std::fprintf(stderr,
                             "quarnel-cli: cannot read the image '%s' (is it a regular file you "
                             "may read?)\n",
                             args[i].c_str());
                return 1;
            }
        } else if (arg == "--recover" && i + 1 < args.size()) {
            out.output.recover_dir = QFile::decodeName(args[++i].c_str());
        } else if (!arg.empty() && arg[0] != '-' && out.result_path.empty()) {
            out.result_path = arg;
        } else {
            std::fprintf(stderr, "quarnel-cli load: unexpected argument '%s'\n", arg.c_str());
            return 2;
        }
    }
    if (out.result_path.empty()) {
        std::fprintf(stderr, "quarnel-cli load: which FILE.sav? (quarnel-cli load --help)\n");
        return 2;
    }
    if (out.output.flat && out.output.recover_dir.isEmpty()) {
        std::fprintf(stderr, "quarnel-cli load: --flat needs --recover DIR\n");
        return 2;
    }
    return 0;
}

// The device a result names: exactly as stored when the platform knows it (a volume, a
// whole disk or an image), else the first listed volume whose path begins with it.
int find_device(const std::string& stored, std::string& device, location_s& where) {
    if (resolve_location(stored, where) == 0) {
        device = stored;
        return 0;
    }
    for (const volume_probe_s& volume : list_volumes()) {
        if (volume.volume_path.rfind(stored, 0) == 0 &&
            resolve_location(volume.volume_path, where) == 0) {
            device = volume.volume_path;
            return 0;
        }
    }
    return -1;
}

}  // namespace

int cmd_load(const std::vector<std::string>& args) {
    load_args_s options;
    if (int status = parse_load_args(args, options)) {
        return status;
    }
    if (!QFile::exists(QFile::decodeName(options.result_path.c_str()))) {
        std::fprintf(stderr, "quarnel-cli: cannot read %s (no such file)\n",
                     options.result_path.c_str());
        return 1;
    }
    raw_recovery_c engine;
    QString stored = engine.load_result(QFile::decodeName(options.result_path.c_str()));
    if (stored.isEmpty()) {
        std::fprintf(stderr,
                     "quarnel-cli: %s is not a deep-scan result (a 256-byte header and whole "
                     "32-byte records are expected)\n",
                     options.result_path.c_str());
        return 1;
    }
    std::string device;
    location_s where;
    if (find_device(QFile::encodeName(stored).toStdString(), device, where) != 0) {
        std::fprintf(stderr,
                     "quarnel-cli: the result was saved from %s, which is not here; if it was a "
                     "disk image, name it with --image FILE\n",
                     QFile::encodeName(stored).constData());
        return 1;
    }
    volume_item_s volume;
    volume.volume_path = QFile::decodeName(device.c_str());
    engine.set_volume(volume);
    options.output.source = device;
    options.output.loaded = true;
    options.output.location = where;
    return report_deep_result(engine, options.output);
}
