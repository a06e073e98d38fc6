#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QString>
#include <filesystem>
#include <string>
#include <vector>

#include "i18n/data_paths.h"
#include "i18n/language_code.h"
#include "i18n/language_table.h"
#include "i18n/registry_language.h"
#include "i18n/settings.h"
#include "tests/i18n/i18n_test_state.h"
#include "tests/support/fixture.h"

namespace fs = std::filesystem;

namespace {

std::string text_of(const std::string& path) {
    const std::vector<uint8_t> bytes = read_file_bytes(path);
    return std::string(bytes.begin(), bytes.end());
}

void write_text(const std::string& path, const std::string& text) {
    write_file_bytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// A fresh current folder holding the shipped language file, an empty per-user configuration
// folder, and a locale taken only from LANG.
class settings_test : public ::testing::Test {
protected:
    void SetUp() override {
        reset_language_state();
        recovery_folder.clear();
        current_language.clear();
        folder_ = scratch_dir("settings");
        config_ = folder_ + "/config";
        fs::create_directories(config_);
        fs::copy_file(std::string(QUARNEL_SOURCE_DIR) + "/language.ini", folder_ + "/language.ini");
        guard_ = std::make_unique<environment_guard_c>(folder_);
        guard_->set("XDG_CONFIG_HOME", config_.c_str());
        guard_->set("LC_ALL", nullptr);
        guard_->set("LC_MESSAGES", nullptr);
        guard_->set("LANG", "C");
    }
    void TearDown() override { guard_.reset(); }

    std::string local_ini() const { return folder_ + "/Quarnel.ini"; }
    std::string user_ini() const { return config_ + "/quarnel/Quarnel.ini"; }

    std::string folder_;
    std::string config_;
    std::unique_ptr<environment_guard_c> guard_;
};

TEST_F(settings_test, german_locale_without_settings_starts_in_german_and_stores_it) {
    guard_->set("LANG", "de_DE.UTF-8");
    ASSERT_EQ(load_settings(), 0);
    EXPECT_EQ(current_language, "Deutsch");
    EXPECT_EQ(language_text("btn_back"), QString::fromUtf8("Zurück"));
    EXPECT_EQ(language_code(), "de");
    ASSERT_TRUE(fs::exists(user_ini()));
    const std::string saved = text_of(user_ini());
    EXPECT_NE(saved.find("language=Deutsch"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("recovery_folder"), std::string::npos) << saved;
    EXPECT_FALSE(fs::exists(local_ini()));
    EXPECT_EQ(settings_file_in_use(), QString::fromStdString(user_ini()));
}

TEST_F(settings_test, unknown_locale_starts_in_english_and_writes_nothing) {
    for (const char* locale : {"C", "ru_RU.UTF-8", ""}) {
        SCOPED_TRACE(locale);
        reset_language_state();
        guard_->set("LANG", locale);
        ASSERT_EQ(load_settings(), 0);
        EXPECT_EQ(current_language, "English");
        EXPECT_EQ(language_text("btn_back"), "Back");
        EXPECT_EQ(language_index, 0);
        EXPECT_FALSE(fs::exists(user_ini()));
        EXPECT_FALSE(fs::exists(local_ini()));
    }
}

TEST_F(settings_test, locale_variables_are_taken_in_posix_order) {
    struct locale_case_s {
        const char* lc_all;
        const char* lc_messages;
        const char* lang;
        const char* expected;
    };
    const locale_case_s cases[] = {
        {"fr_FR.UTF-8", "it_IT.UTF-8", "de_DE.UTF-8", "Français"},
        {nullptr, "it_IT.UTF-8", "de_DE.UTF-8", "Italiano"},
        {"", "", "nl_NL.UTF-8", "Nederlands"},
        {"C", nullptr, "de_DE.UTF-8", ""},  // LC_ALL set: it decides, even when it names none
    };
    for (const locale_case_s& c : cases) {
        guard_->set("LC_ALL", c.lc_all);
        guard_->set("LC_MESSAGES", c.lc_messages);
        guard_->set("LANG", c.lang);
        EXPECT_EQ(registry_language(), QString::fromUtf8(c.expected)) << c.expected;
    }
}

TEST_F(settings_test, language_in_the_file_beats_the_locale_and_is_not_rewritten) {
    const std::string ini =
        "[General]\nrecovery_folder=/srv/rescued\nlanguage=Fran\xC3\xA7"
        "ais\n";
    write_text(local_ini(), ini);
    guard_->set("LANG", "de_DE.UTF-8");
    ASSERT_EQ(load_settings(), 0);
    EXPECT_EQ(current_language, QString::fromUtf8("Français"));
    EXPECT_EQ(recovery_folder, "/srv/rescued");
    EXPECT_EQ(language_text("btn_back"), "Retour");
    EXPECT_EQ(text_of(local_ini()), ini);
    EXPECT_FALSE(fs::exists(user_ini()));
}

TEST_F(settings_test, save_writes_back_to_the_file_that_was_read) {
    write_text(local_ini(), "[General]\nrecovery_folder=/srv/rescued\nlanguage=English\n");
    ASSERT_EQ(load_settings(), 0);
    current_language = QString::fromUtf8("日本語");
    ASSERT_EQ(save_settings(), 0);
    EXPECT_FALSE(fs::exists(user_ini()));

    reset_language_state();
    current_language.clear();
    recovery_folder.clear();
    ASSERT_EQ(load_settings(), 0);
    EXPECT_EQ(current_language, QString::fromUtf8("日本語"));
    EXPECT_EQ(recovery_folder, "/srv/rescued");
    EXPECT_EQ(language_text("btn_back"), QString::fromUtf8("戻る"));
    EXPECT_EQ(language_code(), "jp");
}

TEST_F(settings_test, per_user_file_is_read_when_the_current_folder_has_none) {
    fs::create_directories(config_ + "/quarnel");
    write_text(user_ini(), "[General]\nlanguage=Nederlands\n");
    ASSERT_EQ(load_settings(), 0);
    EXPECT_EQ(current_language, "Nederlands");
    EXPECT_EQ(language_text("btn_back"), "Terug");

    current_language = "Italiano";
    ASSERT_EQ(save_settings(), 0);
    const std::string saved = text_of(user_ini());
    EXPECT_NE(saved.find("language=Italiano"), std::string::npos) << saved;
    EXPECT_NE(saved.find("recovery_folder="), std::string::npos) << saved;
    EXPECT_FALSE(fs::exists(local_ini()));
}

TEST_F(settings_test, language_missing_from_the_language_file_falls_back_to_english) {
    write_text(local_ini(), "[General]\nlanguage=Klingon\n");
    ASSERT_EQ(load_settings(), 0);
    EXPECT_EQ(current_language, "Klingon");
    EXPECT_EQ(language_text("btn_back"), "Back");
    EXPECT_EQ(language_index, 0);
    EXPECT_EQ(language_code(), "en");
}

TEST_F(settings_test, missing_language_file_leaves_every_text_empty) {
    fs::remove(folder_ + "/language.ini");
    guard_->set("LANG", "de_DE.UTF-8");
    ASSERT_EQ(load_settings(), 0);
    if (!language_list.isEmpty()) {
        GTEST_SKIP() << "an installed or program-side language.ini exists on this machine";
    }
    EXPECT_EQ(language_text("btn_back"), "");
    EXPECT_EQ(language_code(), "en");
}

TEST_F(settings_test, language_file_is_looked_for_here_then_beside_the_program_then_installed) {
    const QStringList candidates = language_file_candidates();
    ASSERT_EQ(candidates.size(), 3);
    EXPECT_EQ(candidates[0], QString::fromStdString(folder_ + "/language.ini"));
    const fs::path program = fs::read_symlink("/proc/self/exe");
    EXPECT_EQ(candidates[1], QString::fromStdString((program.parent_path() / "language.ini")));
    EXPECT_TRUE(candidates[2].endsWith("/share/quarnel/language.ini"))
        << candidates[2].toStdString();
    EXPECT_EQ(language_file_path(), candidates[0]);
    fs::remove(folder_ + "/language.ini");
    QString expected = candidates[0];  // the current folder's, when no file exists anywhere
    for (qsizetype i = 1; i < candidates.size(); ++i) {
        if (fs::exists(candidates[i].toStdString())) {
            expected = candidates[i];
            break;
        }
    }
    EXPECT_EQ(language_file_path(), expected);
}

struct locale_name_case_s {
    const char* locale;
    const char* language;
};

TEST(registry_language_test, maps_locale_names_to_shipped_languages) {
    const locale_name_case_s cases[] = {
        {"de_DE.UTF-8", "Deutsch"},
        {"de", "Deutsch"},
        {"de_AT@euro", "Deutsch"},
        {"es_MX.UTF-8", "Español"},
        {"fr_CA", "Français"},
        {"it_IT.UTF-8", "Italiano"},
        {"ja_JP.eucJP", "日本語"},
        {"zh_CN.UTF-8", "简体中文"},
        {"zh_SG", "简体中文"},
        {"zh_Hans", "简体中文"},
        {"zh-Hans-CN", "简体中文"},
        {"zh_TW.Big5", "繁體中文"},
        {"zh_HK.UTF-8", "繁體中文"},
        {"zh_Hant_TW", "繁體中文"},
        {"zh", ""},
        {"nl_BE.UTF-8", "Nederlands"},
        {"pt_BR.UTF-8", "Português"},
        {"pt_PT", "Português"},
        {"en_GB.UTF-8", "English"},
        {"C", ""},
        {"C.UTF-8", ""},
        {"POSIX", ""},
        {"ru_RU.UTF-8", ""},
        {"", ""},
        {"deu_DE", ""},
    };
    for (const locale_name_case_s& c : cases) {
        EXPECT_EQ(language_for_locale(c.locale), QString::fromUtf8(c.language)) << c.locale;
    }
}

}  // namespace
