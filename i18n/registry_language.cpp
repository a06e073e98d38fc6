#include "i18n/registry_language.h"

#include <QRegularExpression>
#include <QStringList>
#include <array>
#include <cstdlib>

namespace {

struct locale_language_s {
    const char* language;  // ISO 639-1 code of the locale
    const char* name;      // section name in the language file, UTF-8
};

constexpr std::array<locale_language_s, 9> locale_languages = {{
    {"en", "English"},
    {"de", "Deutsch"},
    {"es", "Español"},
    {"fr", "Français"},
    {"it", "Italiano"},
    {"ja", "日本語"},
    {"nl", "Nederlands"},
    {"pt", "Português"},
    {"zh", ""},  // decided by region or script below
}};

const char* const simplified_chinese = "简体中文";
const char* const traditional_chinese = "繁體中文";

QString chinese_for(const QStringList& parts) {
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QString part = parts.at(i).toLower();
        if (part == "cn" || part == "sg" || part == "hans") {
            return QString::fromUtf8(simplified_chinese);
        }
        if (part == "tw" || part == "hk" || part == "mo" || part == "hant") {
            return QString::fromUtf8(traditional_chinese);
        }
    }
    return {};
}

}  // namespace

QString language_for_locale(const QString& locale) {
    // language[_territory][.codeset][@modifier]; a script may come as zh_Hant or zh-Hant_TW.
    QString base = locale.section('.', 0, 0).section('@', 0, 0);
    const QStringList parts = base.split(QRegularExpression("[_-]"), Qt::SkipEmptyParts);
    if (parts.isEmpty()) {
        return {};
    }
    const QString language = parts.first().toLower();
    for (const locale_language_s& entry : locale_languages) {
        if (language == QLatin1String(entry.language)) {
            return language == "zh" ? chinese_for(parts) : QString::fromUtf8(entry.name);
        }
    }
    return {};
}

QString registry_language() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            return language_for_locale(QString::fromLocal8Bit(value));
        }
    }
    return {};
}
