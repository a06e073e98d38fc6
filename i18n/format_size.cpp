#include "i18n/format_size.h"

namespace {

constexpr uint64_t kib = 1024;
constexpr uint64_t mib = kib * 1024;
constexpr uint64_t gib = mib * 1024;

}  // namespace

QString format_size(uint64_t bytes) {
    const double value = static_cast<double>(bytes);
    if (bytes > gib) {
        return QString::asprintf("%.2fG", value / static_cast<double>(gib));
    }
    if (bytes > mib) {
        return QString::asprintf("%.2fM", value / static_cast<double>(mib));
    }
    if (bytes > kib) {
        return QString::asprintf("%.2fK", value / static_cast<double>(kib));
    }
    return QString::asprintf("%dB", static_cast<int>(bytes));
}
