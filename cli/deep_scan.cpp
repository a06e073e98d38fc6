// `scan --deep`: the deep scan of a volume or a whole disk, its listing, recovery and save.
// The listing and recovery are shared with `load` (cli/cmd_load.cpp).

#include <unistd.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <vector>

#include "cli/deep_result.h"
#include "cli/recover_target.h"
#include "cli/scan_options.h"
#include "engines/raw_recovery.h"

namespace {

constexpr unsigned long progress_poll_ms = 200;
// While finds are written during the scan, new ones are picked up this often.
constexpr unsigned long write_poll_ms = 5;

volatile std::sig_atomic_t interrupted = 0;

void on_interrupt(int) {
    interrupted = 1;
    std::signal(SIGINT, SIG_DFL);  // a second Ctrl-C quits at once
}

QString found_name(const raw_record_s& record) {
    return QString::asprintf("%08llu.%s", static_cast<unsigned long long>(record.index),
                             raw_record_extension(record).c_str());
}

QString found_folder(const deep_output_s& output, const std::string& extension) {
    return output.flat
               ? output.recover_dir
               : output.recover_dir + u'/' + safe_file_name(QString::fromUtf8(extension.c_str()));
}

// Why the finds may not be written into the output folder; empty when they may.
std::string folder_refusal(const deep_output_s& output) {
    std::string why;
    if (!output.force &&
        check_target_dir(output.recover_dir, output.location.disk_path,
                         output.location.start_offset, output.location.length, why) != 0) {
        return why;
    }
    return {};
}

}  // namespace

void recover_deep_find(raw_recovery_c& engine, const deep_output_s& output,
                       const raw_record_s& record, deep_written_s& written) {
    const std::string extension = raw_record_extension(record);
    const QString dir = found_folder(output, extension);
    auto folder = written.folders.find(extension);
    if (folder == written.folders.end()) {
        bool made = QDir().mkpath(dir);
        if (!made) {
            std::fprintf(stderr, "quarnel-cli: cannot create the folder %s\n",
                         QFile::encodeName(dir).constData());
        }
        folder = written.folders.emplace(extension, made).first;
    }
    if (!folder->second) {
        ++written.failed;
        return;
    }
    QString target = unique_target_path(dir, safe_file_name(found_name(record)));
    if (engine.recover_record(record, target) != 0) {
        std::fprintf(stderr, "quarnel-cli: could not recover %s completely\n",
                     QFile::encodeName(target).constData());
        ++written.failed;
        return;
    }
    written.paths[record.index] = target;
}

int report_deep_result(raw_recovery_c& engine, const deep_output_s& output,
                       deep_written_s written) {
    if (!output.recover_dir.isEmpty()) {
        if (!written.folder_checked) {
            written.refusal = folder_refusal(output);
        }
        if (!written.refusal.empty()) {
            std::fprintf(stderr, "quarnel-cli: %s\n", written.refusal.c_str());
            return 1;
        }
        for (const auto& [extension, indexes] : engine.by_extension()) {
            for (uint64_t index : indexes) {
                const raw_record_s* record = engine.find_record(index);
                if (!record) {
                    ++written.failed;
                } else if (!written.paths.count(index)) {
                    recover_deep_find(engine, output, *record, written);
                }
            }
        }
    }
    const std::map<uint64_t, QString>& paths = written.paths;
    const size_t failed = written.failed;
    if (output.json) {
        QJsonArray files;
        QJsonObject counts;
        for (const auto& [extension, indexes] : engine.by_extension()) {
            counts[QString::fromUtf8(extension.c_str())] = static_cast<qint64>(indexes.size());
            for (uint64_t index : indexes) {
                const raw_record_s* record = engine.find_record(index);
                if (!record) {
                    continue;
                }
                QJsonObject o;
                o["index"] = static_cast<qint64>(record->index);
                o["name"] = found_name(*record);
                o["extension"] = QString::fromUtf8(raw_record_extension(*record).c_str());
                o["offset"] = static_cast<qint64>(record->start_offset);
                o["size"] = static_cast<qint64>(record->size);
                if (auto path = paths.find(index); path != paths.end()) {
                    o["recovered"] = path->second;
                }
                files.append(o);
            }
        }
        QJsonObject document{{"source", QString::fromStdString(output.source)},
                             {"device", engine.device_path()},
                             {"stopped", output.stopped},
                             {"found", static_cast<qint64>(engine.records().size())},
                             {"extensions", counts},
                             {"files", files}};
        if (!output.recover_dir.isEmpty()) {
            document["recovered"] = static_cast<qint64>(paths.size());
            document["failed"] = static_cast<qint64>(failed);
        }
        std::fputs(QJsonDocument(document).toJson(QJsonDocument::Indented).constData(), stdout);
    } else {
        std::printf("%s %s: %zu files found%s\n",
                    output.loaded ? "Saved deep scan of" : "Deep scan of", output.source.c_str(),
                    engine.records().size(), output.stopped ? " (stopped before the end)" : "");
        for (const auto& [extension, indexes] : engine.by_extension()) {
            std::printf("\n%s: %zu\n", extension.c_str(), indexes.size());
            std::printf("  %-16s %16s %14s\n", "NAME", "OFFSET", "SIZE");
            for (uint64_t index : indexes) {
                const raw_record_s* record = engine.find_record(index);
                if (!record) {
                    continue;
                }
                std::printf("  %-16s %16llu %14llu\n", found_name(*record).toUtf8().constData(),
                            static_cast<unsigned long long>(record->start_offset),
                            static_cast<unsigned long long>(record->size));
            }
        }
        if (!output.recover_dir.isEmpty()) {
            std::printf("\n%zu files written to %s%s\n", paths.size(),
                        QFile::encodeName(output.recover_dir).constData(),
                        failed ? "; some could not be read completely (see above)" : "");
        }
    }
    return failed ? 1 : 0;
}

int run_deep_scan(const scan_options_s& options) {
    raw_recovery_c engine;
    std::string message;
    if (engine.load_config(&message) < 0) {
        std::fprintf(stderr, "quarnel-cli: file-type configuration: %s", message.c_str());
    }
    std::string device = options.whole_disk || options.volume_path.empty()
                             ? options.location.disk_path
                             : options.volume_path;
    volume_item_s volume;
    volume.volume_path = QString::fromStdString(device);
    volume.file_system = QString::fromStdString(options.file_system);
    engine.set_volume(volume);
    {
        // The scan must be able to open what it will read: say so before starting.
        sc_handle probe = sc_open(device.c_str());
        if (!probe) {
            std::fprintf(stderr, "quarnel-cli: cannot open %s for reading (as root for a disk?)\n",
                         device.c_str());
            return 1;
        }
        sc_close(probe);
    }

    deep_output_s output;
    output.source = options.source;
    output.json = options.json;
    output.flat = options.flat;
    output.force = options.force;
    output.recover_dir = options.recover_dir;
    output.location = options.location;
    // Finds are written while the scan reads on, so that the copying overlaps the reading.
    // When the folder may not be used, the report after the scan says why.
    deep_written_s written;
    if (!output.recover_dir.isEmpty()) {
        written.refusal = folder_refusal(output);
        written.folder_checked = true;
    }
    const bool write_during_scan = written.folder_checked && written.refusal.empty();
    std::vector<raw_record_s> fresh;
    size_t taken = 0;

    interrupted = 0;
    auto previous = std::signal(SIGINT, on_interrupt);
    bool show_progress = !options.json && isatty(STDERR_FILENO);
    auto last_progress = std::chrono::steady_clock::now();
    engine.start();
    while (!engine.wait(write_during_scan ? write_poll_ms : progress_poll_ms)) {
        if (interrupted) {
            engine.set_stop(stop_user);
        }
        if (write_during_scan) {
            fresh.clear();
            engine.copy_records(taken, fresh);
            taken += fresh.size();
            for (const raw_record_s& record : fresh) {
                recover_deep_find(engine, output, record, written);
            }
        }
        auto now = std::chrono::steady_clock::now();
        if (show_progress && now - last_progress >= std::chrono::milliseconds(progress_poll_ms)) {
            last_progress = now;
            std::fprintf(stderr, "\rdeep scan: %5.1f%%  %llu files", engine.get_progress() * 100,
                         static_cast<unsigned long long>(engine.finds_so_far()));
        }
    }
    std::signal(SIGINT, previous == SIG_ERR ? SIG_DFL : previous);
    if (show_progress) {
        std::fprintf(stderr, "\r%40s\r", "");
    }
    output.stopped = interrupted != 0;

    // Saved before the rest of the copying, so that the result survives whatever happens then.
    int save_status = 0;
    if (!options.save_path.isEmpty()) {
        if (engine.records().empty()) {
            std::fprintf(stderr, "quarnel-cli: nothing was found, so no result was saved\n");
        } else if (engine.save_result(options.save_path) != 0) {
            std::fprintf(stderr,
                         "quarnel-cli: cannot write %s (is the folder writable, and the device "
                         "path shorter than 256 bytes?)\n",
                         QFile::encodeName(options.save_path).constData());
            save_status = 1;
        }
    }
    int status = report_deep_result(engine, output, std::move(written));
    status = status ? status : save_status;
    return status;
}
