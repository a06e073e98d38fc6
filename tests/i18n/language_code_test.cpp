#include <gtest/gtest.h>

#include <QLocale>
#include <QString>
#include <clocale>
#include <string>

#include "i18n/language_code.h"
#include "i18n/language_table.h"
#include "tests/i18n/i18n_test_state.h"

namespace {

void make_current(const QString& name) {
    reset_language_state();
    language_list << "English" << name;
    language_index = 1;
}

struct code_case_s {
    const char* name;
    const char* code;
};

TEST(language_code_test, maps_section_names_to_image_folders_ignoring_case) {
    const code_case_s cases[] = {
        {"Deutsch", "de"},   {"deutsch", "de"},   {"DEUTSCH", "de"},    {"Français", "fr"},
        {"FRANÇAIS", "fr"},  {"Español", "es"},   {"ESPAÑOL", "es"},    {"简体中文", "cn"},
        {"繁體中文", "hk"},  {"Italiano", "it"},  {"ITALIANO", "it"},   {"日本語", "jp"},
        {"Português", "pt"}, {"PORTUGUÊS", "pt"}, {"Nederlands", "nl"}, {"العربية", "ar"},
        {"English", "en"},   {"Klingon", "en"},   {"", "en"},           {" Deutsch", "en"},
    };
    for (const code_case_s& c : cases) {
        make_current(QString::fromUtf8(c.name));
        EXPECT_EQ(language_code(), c.code) << c.name;
    }
}

TEST(language_code_test, is_english_without_a_valid_current_language) {
    reset_language_state();
    EXPECT_EQ(language_code(), "en");
    language_list << "Deutsch";
    language_index = 1;
    EXPECT_EQ(language_code(), "en");
    language_index = -1;
    EXPECT_EQ(language_code(), "en");
    language_index = 0;
    EXPECT_EQ(language_code(), "de");
}

TEST(language_code_test, does_not_depend_on_the_process_locale) {
    // Turkish case rules fold "I" to a dotless i; the comparison must not follow them.
    const std::string old_locale = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "tr_TR.UTF-8");
    QLocale::setDefault(QLocale(QLocale::Turkish, QLocale::Turkey));
    make_current("ITALIANO");
    const QString code = language_code();
    QLocale::setDefault(QLocale::c());
    std::setlocale(LC_ALL, old_locale.c_str());
    EXPECT_EQ(code, "it");
}

TEST(language_code_test, builds_image_paths_for_the_current_language) {
    make_current("Deutsch");
    EXPECT_EQ(top_button_image("1", "1"), ":/images/multilang/de/btn_top11.png");
    EXPECT_EQ(top_button_image("3", "2"), ":/images/multilang/de/btn_top32.png");
    EXPECT_EQ(start_scan_image("2"), "/images/multilang/de/btn_start_scan2.png");
    EXPECT_EQ(resume_recovery_image("3"), "/images/multilang/de/btn_resume_recovery3.png");

    // No pictures exist for this code; the path is still built the same way.
    make_current("Português");
    EXPECT_EQ(start_scan_image("1"), "/images/multilang/pt/btn_start_scan1.png");

    reset_language_state();
    EXPECT_EQ(start_scan_image("1"), "/images/multilang/en/btn_start_scan1.png");
}

TEST(language_code_test, builds_the_three_state_style_sheet) {
    EXPECT_EQ(image_button_style("/a/n.png", "/a/h.png", "/a/p.png"),
              "QPushButton{ border-image: url(:/a/n.png); }QPushButton:hover{ border-image: "
              "url(:/a/h.png);}QPushButton:pressed{  border-image: url(:/a/p.png);}");
    make_current("日本語");
    EXPECT_EQ(
        image_button_style(start_scan_image("1"), start_scan_image("2"), start_scan_image("3")),
        "QPushButton{ border-image: url(:/images/multilang/jp/btn_start_scan1.png); }"
        "QPushButton:hover{ border-image: url(:/images/multilang/jp/btn_start_scan2.png);}"
        "QPushButton:pressed{  border-image: url(:/images/multilang/jp/btn_start_scan3.png);}");
}

}  // namespace
