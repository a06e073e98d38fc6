#include "i18n/language_code.h"

#include <array>

#include "i18n/language_table.h"

namespace {

struct language_code_s {
    const char* name;  // section name, UTF-8
    const char* code;  // folder under :/images/multilang/
};

// Searched in this order; the first match wins.
constexpr std::array<language_code_s, 10> language_codes = {{
    {"Deutsch", "de"},
    {"Français", "fr"},
    {"Español", "es"},
    {"简体中文", "cn"},
    {"繁體中文", "hk"},
    {"Italiano", "it"},
    {"日本語", "jp"},
    {"Português", "pt"},
    {"Nederlands", "nl"},
    {"العربية", "ar"},
}};

QString multilang_path(const QString& file) {
    return "/images/multilang/" + language_code() + "/" + file;
}

}  // namespace

QString language_code() {
    if (language_index < 0 || language_index >= language_list.size()) {
        return QStringLiteral("en");
    }
    const QString& current = language_list.at(language_index);
    for (const language_code_s& entry : language_codes) {
        // Unicode case folding: the same answer whatever the process's locale is.
        if (QString::compare(current, QString::fromUtf8(entry.name), Qt::CaseInsensitive) == 0) {
            return QString::fromLatin1(entry.code);
        }
    }
    return QStringLiteral("en");
}

QString top_button_image(const QString& a, const QString& b) {
    return ":" + multilang_path("btn_top" + a + b + ".png");
}

QString start_scan_image(const QString& s) {
    return multilang_path("btn_start_scan" + s + ".png");
}

QString resume_recovery_image(const QString& s) {
    return multilang_path("btn_resume_recovery" + s + ".png");
}

QString image_button_style(const QString& normal, const QString& hover, const QString& pressed) {
    // The sheet is 8-bit text: characters outside Latin-1 do not survive the conversion.
    const QByteArray sheet = "QPushButton{ border-image: url(:" + normal.toLatin1() +
                             "); }QPushButton:hover{ border-image: url(:" + hover.toLatin1() +
                             ");}QPushButton:pressed{  border-image: url(:" + pressed.toLatin1() +
                             ");}";
    return QString::fromLatin1(sheet);
}
