#include "i18n/data_paths.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

const char* const language_file_name = "language.ini";
const char* const settings_file_name = "Quarnel.ini";
const char* const settings_folder_name = "quarnel";

// The program's own folder. Read from the kernel rather than the application object, which
// does not exist yet when the settings and texts are loaded.
QString program_folder() {
    const QFileInfo program(QStringLiteral("/proc/self/exe"));
    const QString target = program.symLinkTarget();
    return target.isEmpty() ? QString() : QFileInfo(target).absolutePath();
}

bool is_file(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

}  // namespace

QStringList language_file_candidates() {
    QStringList candidates;
    candidates << QDir::current().absoluteFilePath(language_file_name);
    const QString beside = program_folder();
    if (!beside.isEmpty()) {
        candidates << QDir(beside).absoluteFilePath(language_file_name);
    }
    candidates << QDir(QStringLiteral(QUARNEL_DATA_DIR)).absoluteFilePath(language_file_name);
    return candidates;
}

QString language_file_path() {
    const QStringList candidates = language_file_candidates();
    for (const QString& candidate : candidates) {
        if (is_file(candidate)) {
            return candidate;
        }
    }
    return candidates.first();
}

QString settings_file_path() {
    const QString local = QDir::current().absoluteFilePath(settings_file_name);
    if (is_file(local)) {
        return local;
    }
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir(config).absoluteFilePath(QString(settings_folder_name) + "/" + settings_file_name);
}
