#include "engines/raw_recovery.h"

#include <unistd.h>

#include <QFile>
#include <QSaveFile>
#include <algorithm>
#include <cstring>
#include <new>

namespace {

// Each copy step reads at most this much from the device and writes it in one call: most
// finds are copied in one read and one write.
constexpr uint64_t copy_piece_bytes = 1u << 20;
constexpr uint64_t sector_bytes = 512;
// Records are read from a ".sav" file in batches of this many.
constexpr qint64 load_batch_records = 65536;

// Bytes of whole sectors that hold `bytes` bytes, for `bytes` far below the 64-bit limit.
uint64_t whole_sectors(uint64_t bytes) {
    return (bytes + sector_bytes - 1) / sector_bytes * sector_bytes;
}

void raw_found_callback(void* user, const char* extension, uint64_t start, uint64_t size) {
    static_cast<raw_recovery_c*>(user)->add_record(extension, start, size);
}

}  // namespace

raw_recovery_c::raw_recovery_c(QObject* parent) : recovery_base_c(parent) {}

raw_recovery_c::~raw_recovery_c() {
    control_.stop.store(stop_abandon);
    wait();
}

void raw_recovery_c::set_volume(const volume_item_s& volume) {
    volume_ = volume;
    device_path_ = volume.volume_path;
    if (device_path_.endsWith(u'\\')) {
        device_path_.chop(1);
    }
}

double raw_recovery_c::get_progress() {
    return control_.progress.load();
}
void raw_recovery_c::set_progress(double value) {
    control_.progress.store(value);
}
void raw_recovery_c::set_stop(int32_t code) {
    control_.stop.store(code);
}
int32_t raw_recovery_c::is_stopped() {
    return control_.stop.load();
}
int32_t raw_recovery_c::is_paused() {
    return control_.pause.load();
}
void raw_recovery_c::set_pause(int32_t flag) {
    control_.pause.store(flag);
}

void raw_recovery_c::reset() {
    sc_control_clear(control_);
    by_extension_.clear();
    {
        std::lock_guard<std::mutex> hold(records_lock_);
        records_.clear();
    }
    position_of_.clear();
    finds_so_far_.store(0);
}

void raw_recovery_c::run() {
    reset();
    control_.user = this;
    control_.found_callback = raw_found_callback;
    sc_scan(&control_, QFile::encodeName(device_path_).constData());
}

void raw_recovery_c::add_record(const char* extension, uint64_t start_offset, uint64_t size) {
    raw_record_s record;
    record.index = records_.size();
    record.start_offset = start_offset;
    record.size = size;
    std::string key = extension ? extension : "";
    std::memcpy(record.extension, key.data(), std::min(key.size(), raw_record_extension_bytes));
    {
        std::lock_guard<std::mutex> hold(records_lock_);
        records_.push_back(record);
    }
    by_extension_[key].push_back(record.index);
    finds_so_far_.store(records_.size(), std::memory_order_relaxed);
}

void raw_recovery_c::copy_records(size_t from, std::vector<raw_record_s>& out) const {
    std::lock_guard<std::mutex> hold(records_lock_);
    if (from < records_.size()) {
        out.insert(out.end(), records_.begin() + static_cast<std::ptrdiff_t>(from), records_.end());
    }
}

const raw_record_s* raw_recovery_c::find_record(uint64_t id) const {
    if (position_of_.empty()) {
        return id < records_.size() ? &records_[id] : nullptr;
    }
    auto found = position_of_.find(id);
    return found != position_of_.end() ? &records_[found->second] : nullptr;
}

int32_t raw_recovery_c::recover_file(uint64_t id, const QString& target) {
    const raw_record_s* record = find_record(id);
    if (!record) {
        return -1;
    }
    return recover_record(*record, target);
}

int32_t raw_recovery_c::recover_record(const raw_record_s& record, const QString& target) {
    std::lock_guard<std::mutex> hold(device_lock_);
    if (!device_ || device_opened_for_ != device_path_) {
        device_.reset(sc_open(QFile::encodeName(device_path_).constData()));
        device_opened_for_ = device_path_;
    }
    if (!device_) {
        return -1;
    }
    // Read from the sector that holds the first byte, and drop what lies before it.
    uint64_t aligned = record.start_offset / sector_bytes * sector_bytes;
    uint64_t skip = record.start_offset - aligned;
    if (sc_seek(device_.get(), aligned, 0) < 0) {
        return -1;
    }
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        return -1;
    }
    // A file under the piece size is read whole (in whole sectors) in one call.
    const uint64_t piece =
        record.size >= copy_piece_bytes ? copy_piece_bytes : whole_sectors(skip + record.size);
    // One buffer for every copy: growing it per file would cost fresh pages each time.
    if (!copy_buffer_) {
        copy_buffer_ = std::make_unique_for_overwrite<char[]>(copy_piece_bytes + sector_bytes);
    }
    char* buffer = copy_buffer_.get();
    uint64_t left = record.size;
    while (left > 0) {
        const uint64_t ask = left >= piece ? piece : std::min(piece, whole_sectors(skip + left));
        int got = sc_read(device_.get(), buffer, static_cast<int>(ask));
        if (got <= 0) {
            device_.reset();  // the medium may be gone: open it afresh next time
            return -1;        // the device ended or failed before the whole file was read
        }
        uint64_t usable = static_cast<uint64_t>(got);
        uint64_t from = std::min(skip, usable);
        skip -= from;
        uint64_t take = std::min(usable - from, left);
        if (take > 0 &&
            out.write(buffer + from, static_cast<qint64>(take)) != static_cast<qint64>(take)) {
            return -1;
        }
        left -= take;
    }
    return out.flush() ? 0 : -1;
}

int32_t raw_recovery_c::load_config(std::string* message) {
    return sc_load_config("./Quarnel.conf", message);
}

int32_t raw_recovery_c::save_result(const QString& path) {
    if (records_.empty()) {
        return -1;
    }
    QByteArray device = QFile::encodeName(device_path_);
    if (device.size() > raw_result_max_path_bytes || device.contains('\0')) {
        return -1;  // would be cut, and the result could not find its device again
    }
    QByteArray bytes(raw_result_header_bytes, '\0');
    std::memcpy(bytes.data(), device.constData(), static_cast<size_t>(device.size()));
    bytes.reserve(raw_result_header_bytes +
                  static_cast<qint64>(records_.size() * raw_record_bytes));
    for (const raw_record_s& record : records_) {
        uint8_t stored[raw_record_bytes];
        raw_record_store(record, stored);
        bytes.append(reinterpret_cast<const char*>(stored), raw_record_bytes);
    }
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size()) {
        return -1;
    }
    return out.commit() ? 0 : -1;
}

QString raw_recovery_c::load_result(const QString& path) {
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        return {};
    }
    QByteArray header = in.read(raw_result_header_bytes);
    if (header.size() < raw_result_header_bytes) {
        return {};
    }
    qint64 body = in.size() - raw_result_header_bytes;
    if (body < static_cast<qint64>(raw_record_bytes) || body % raw_record_bytes != 0) {
        return {};
    }
    qint64 count = body / static_cast<qint64>(raw_record_bytes);
    // A hostile or damaged file may claim more records than memory holds: refuse it
    // rather than let the allocation fail half-way.
    long pages = sysconf(_SC_PHYS_PAGES);
    long page_size = sysconf(_SC_PAGESIZE);
    if (pages > 0 && page_size > 0 &&
        static_cast<double>(count) * sizeof(raw_record_s) >
            static_cast<double>(pages) * static_cast<double>(page_size) / 2) {
        return {};
    }
    std::vector<raw_record_s> loaded;
    try {
        loaded.reserve(static_cast<size_t>(count));
    } catch (const std::exception&) {
        return {};  // more records than this machine can hold
    }
    while (static_cast<qint64>(loaded.size()) < count) {
        qint64 batch = std::min<qint64>(load_batch_records, count - loaded.size());
        QByteArray chunk = in.read(batch * static_cast<qint64>(raw_record_bytes));
        if (chunk.size() != batch * static_cast<qint64>(raw_record_bytes)) {
            return {};
        }
        const auto* p = reinterpret_cast<const uint8_t*>(chunk.constData());
        for (qint64 i = 0; i < batch; ++i) {
            loaded.push_back(raw_record_load(p + i * raw_record_bytes));
        }
    }
    QString device = QFile::decodeName(header.left(header.indexOf('\0')));
    if (device.isEmpty()) {
        return {};
    }
    std::map<std::string, std::vector<uint64_t>> groups;
    std::unordered_map<uint64_t, size_t> positions;
    bool indexes_are_positions = true;
    for (size_t i = 0; i < loaded.size(); ++i) {
        indexes_are_positions = indexes_are_positions && loaded[i].index == i;
        groups[raw_record_extension(loaded[i])].push_back(loaded[i].index);
    }
    if (!indexes_are_positions) {
        for (size_t i = 0; i < loaded.size(); ++i) {
            positions.emplace(loaded[i].index, i);
        }
    }
    {
        std::lock_guard<std::mutex> hold(records_lock_);
        records_ = std::move(loaded);
    }
    finds_so_far_.store(records_.size());
    by_extension_ = std::move(groups);
    position_of_ = std::move(positions);
    device_path_ = device;
    return device;
}
