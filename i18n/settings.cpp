#include "i18n/settings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <memory>

#include "i18n/data_paths.h"
#include "i18n/language_table.h"
#include "i18n/registry_language.h"

QString recovery_folder;
QString current_language;

namespace {

const char* const key_recovery_folder = "recovery_folder";
const char* const key_language = "language";
const char* const base_language = "English";

std::unique_ptr<QSettings> settings;

// QSettings does not create a missing per-user configuration folder by itself.
void sync_settings() {
    QDir().mkpath(QFileInfo(settings->fileName()).absolutePath());
    settings->sync();
}

}  // namespace

int load_settings() {
    settings = std::make_unique<QSettings>(settings_file_path(), QSettings::IniFormat);
    recovery_folder = settings->value(key_recovery_folder).toString();
    current_language = settings->value(key_language).toString();
    if (current_language.isEmpty()) {
        const QString chosen = registry_language();
        if (!chosen.isEmpty()) {
            current_language = chosen;
            settings->setValue(key_language, current_language);
            sync_settings();
        } else {
            current_language = base_language;
        }
    }
    load_language(base_language, false);
    load_language(current_language, true);
    return 0;
}

int save_settings() {
    if (!settings) {
        settings = std::make_unique<QSettings>(settings_file_path(), QSettings::IniFormat);
    }
    settings->setValue(key_recovery_folder, recovery_folder);
    settings->setValue(key_language, current_language);
    sync_settings();
    return 0;
}

QString settings_file_in_use() {
    return settings ? settings->fileName() : QString();
}
