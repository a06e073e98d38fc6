#include "tests/partitions/partition_images.h"

#include <QJsonDocument>

#include "tests/support/fixture.h"

std::string partition_image_tools_missing() {
    for (const char* tool : {"mkntfs", "mkfs.fat", "sfdisk", "blkid"}) {
        if (!have_program(tool)) {
            return std::string(tool) +
                   " is not installed (packages ntfs-3g, dosfstools, fdisk, "
                   "util-linux)";
        }
    }
    return "";
}

int make_partition_image(const std::string& path, int size_mib, const std::string& specs,
                         bool with_table) {
    std::string script = std::string(QUARNEL_SOURCE_DIR) + "/tools/make_partition_test_image.sh";
    return run_command(shell_quote(script) + (with_table ? " -t " : " ") + shell_quote(path) + " " +
                       std::to_string(size_mib) + " " + specs + " 2>&1");
}

QJsonObject sfdisk_table(const std::string& path) {
    std::string out;
    if (run_command("sfdisk --json " + shell_quote(path) + " 2>/dev/null", &out) != 0) {
        return {};
    }
    return QJsonDocument::fromJson(QByteArray::fromStdString(out)).object();
}

std::string blkid_type_at(const std::string& path, uint64_t offset) {
    std::string out;
    run_command("blkid -p -O " + std::to_string(offset) + " -o value -s TYPE " + shell_quote(path) +
                    " 2>/dev/null",
                &out);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) {
        out.pop_back();
    }
    return out;
}

std::string tail_sha256(const std::string& path) {
    std::string out;
    run_command("tail -c +513 " + shell_quote(path) + " | sha256sum", &out);
    return out.substr(0, 64);
}
