#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>
#include <string>
#include <utility>
#include <vector>

#include "i18n/language_table.h"
#include "tests/i18n/i18n_test_state.h"
#include "tests/support/fixture.h"

namespace {

struct parse_case_s {
    const char* title;
    QByteArray file;
    const char* wanted;
    std::vector<std::pair<QByteArray, QString>> present;  // key -> text after the load
    std::vector<QByteArray> absent;                       // keys the load must not store
};

QByteArray repeated(char c, int count) {
    return QByteArray(count, c);
}

std::vector<parse_case_s> parse_cases() {
    // A line piece holds at most 2047 bytes; these lines are exactly that long, and one more.
    const QByteArray fits = "long=\"" + repeated('x', 2047 - 7) + "\"";
    const QByteArray too_long = "long=\"" + repeated('x', 2048 - 7) + "\"";
    const QByteArray tail_piece = repeated('#', 2047) + "tail=\"from the second piece\"";
    return {
        {"blank before equals joins the key",
         "[English]\nkey =\"v\"\n",
         "English",
         {{"key ", "v"}},
         {"key"}},
        {"blanks after equals are skipped",
         "[English]\nkey=   \"v\"  \n",
         "English",
         {{"key", "v"}},
         {}},
        {"leading blanks before the key are dropped",
         "[English]\n   key=\"v\"\n",
         "English",
         {{"key", "v"}},
         {"   key"}},
        {"backslash t and n become tab and line feed",
         "[English]\nk=\"a\\tb\\nc\"\n",
         "English",
         {{"k", "a\tb\nc"}},
         {}},
        {"a doubled backslash keeps one before the tab",
         "[English]\nk=\"a\\\\tb\"\n",
         "English",
         {{"k", "a\\\tb"}},
         {}},
        {"other escapes stay as written",
         "[English]\nk=\"a\\rb\\\"\"\n",
         "English",
         {{"k", "a\\rb\\\""}},
         {}},
        {"quotes inside a value are kept",
         "[English]\nk=\"say \"hi\" now\"\n",
         "English",
         {{"k", "say \"hi\" now"}},
         {}},
        {"an empty value is no entry", "[English]\nk=\"\"\n", "English", {}, {"k"}},
        {"an equals sign and quote in the value move the key",
         "[English]\nk=\"a=\"b\"\"\n",
         "English",
         {{"k=\"a", "b\""}},
         {"k"}},
        {"utf-8 values are decoded",
         "[English]\nk=\"Größe 日本語\"\n",
         "English",
         {{"k", QString::fromUtf8("Größe 日本語")}},
         {}},
        {"carriage return line ends", "[English]\r\nk=\"v\"\r\n", "English", {{"k", "v"}}, {}},
        {"a semicolon line is a comment", "[English]\n;k=\"v\"\n", "English", {}, {";k", "k"}},
        {"an indented semicolon line is an entry",
         "[English]\n  ;k=\"v\"\n",
         "English",
         {{" ;k", "v"}},
         {";k", "k"}},
        {"byte-order mark hides the first header",
         "\xEF\xBB\xBF[English]\nk=\"v\"\n[Deutsch]\nd=\"w\"\n",
         "English",
         {},
         {"k", "d"}},
        {"section names match case-sensitively", "[english]\nk=\"v\"\n", "English", {}, {"k"}},
        {"blanks around a header are allowed",
         "  [English]  \nk=\"v\"\n",
         "English",
         {{"k", "v"}},
         {}},
        {"entries before any header are ignored", "k=\"v\"\n[English]\n", "English", {}, {"k"}},
        {"only the wanted section is read",
         "[Deutsch]\nd=\"w\"\n[English]\nk=\"v\"\n",
         "English",
         {{"k", "v"}},
         {"d"}},
        {"a repeated header right after ends the section",
         "[English]\na=\"1\"\n[English]\nb=\"2\"\n[Deutsch]\nc=\"3\"\n[English]\nd=\"4\"\n",
         "English",
         {{"a", "1"}, {"d", "4"}},
         {"b", "c"}},
        {"a later entry of the same key wins",
         "[English]\nk=\"1\"\nk=\"2\"\n",
         "English",
         {{"k", "2"}},
         {}},
        {"a line of 2047 bytes is read whole",
         "[English]\n" + fits + "\n",
         "English",
         {{"long", QString(2047 - 7, 'x')}},
         {}},
        {"a line of 2048 bytes is cut and lost",
         "[English]\n" + too_long + "\n",
         "English",
         {},
         {"long"}},
        {"the rest of a long line is a line of its own",
         "[English]\n" + tail_piece + "\n",
         "English",
         {{"tail", "from the second piece"}},
         {}},
        {"a NUL byte ends the line's text",
         QByteArray("[English]\nk=\"v\"\0x=\"y\"\n", 22),
         "English",
         {{"k", "v"}},
         {"x"}},
    };
}

class language_table_test : public ::testing::Test {
protected:
    void SetUp() override { reset_language_state(); }
};

TEST_F(language_table_test, parses_entries_as_the_file_format_defines) {
    for (const parse_case_s& c : parse_cases()) {
        SCOPED_TRACE(c.title);
        reset_language_state();
        ASSERT_EQ(load_language_data(c.file, c.wanted, true), 0);
        for (const auto& [key, text] : c.present) {
            ASSERT_TRUE(language_table.contains(key)) << key.toStdString();
            EXPECT_EQ(language_table.value(key), text) << key.toStdString();
        }
        for (const QByteArray& key : c.absent) {
            EXPECT_FALSE(language_table.contains(key)) << key.toStdString();
        }
    }
}

TEST_F(language_table_test, lists_every_section_and_sets_the_index_of_the_last_entered_one) {
    const QByteArray file =
        "[Deutsch]\na=\"1\"\n[Deutsch]\nb=\"2\"\n[English]\nc=\"3\"\n[Deutsch]\nd=\"4\"\n";
    ASSERT_EQ(load_language_data(file, "Deutsch", true), 0);
    EXPECT_EQ(language_list, QStringList({"Deutsch", "Deutsch", "English", "Deutsch"}));
    EXPECT_EQ(language_index, 3);
    EXPECT_EQ(language_text("a"), "1");
    EXPECT_EQ(language_text("d"), "4");
    EXPECT_EQ(language_text("b"), "");
}

TEST_F(language_table_test, section_name_is_everything_between_outer_brackets) {
    ASSERT_EQ(load_language_data("[Eng]lish]\nk=\"v\"\n[ 日本語 ]\n", "Eng]lish", true), 0);
    EXPECT_EQ(language_list, QStringList({"Eng]lish", QString::fromUtf8(" 日本語 ")}));
    EXPECT_EQ(language_text("k"), "v");
}

TEST_F(language_table_test, chosen_language_overlays_english) {
    const QByteArray file =
        "[English]\nonly_en=\"English only\"\nboth=\"Back\"\n[Deutsch]\nboth=\"Zurück\"\n";
    ASSERT_EQ(load_language_data(file, "English", false), 0);
    ASSERT_EQ(load_language_data(file, "Deutsch", true), 0);
    EXPECT_EQ(language_text("both"), QString::fromUtf8("Zurück"));
    EXPECT_EQ(language_text("only_en"), "English only");
    EXPECT_EQ(language_index, 1);
}

TEST_F(language_table_test, unknown_language_keeps_english_and_the_index) {
    const QByteArray file = "[English]\nk=\"v\"\n[Deutsch]\nk=\"w\"\n";
    language_index = 0;
    ASSERT_EQ(load_language_data(file, "English", false), 0);
    ASSERT_EQ(load_language_data(file, "Klingon", true), 0);
    EXPECT_EQ(language_text("k"), "v");
    EXPECT_EQ(language_index, 0);
    EXPECT_EQ(language_list.size(), 2);
}

TEST_F(language_table_test, lookup_of_an_unknown_key_stores_an_empty_text) {
    EXPECT_EQ(language_text("nowhere"), "");
    EXPECT_TRUE(language_table.contains("nowhere"));
    EXPECT_EQ(language_table.size(), 1);
    EXPECT_EQ(language_text("nowhere"), "");
    EXPECT_EQ(language_table.size(), 1);
}

TEST_F(language_table_test, missing_file_changes_nothing) {
    ASSERT_EQ(load_language_data("[English]\nk=\"v\"\n[Deutsch]\n", "English", true), 0);
    const std::string folder = scratch_dir("language-missing");
    EXPECT_EQ(load_language_file(QString::fromStdString(folder + "/language.ini"), "Deutsch", true),
              -1);
    EXPECT_EQ(language_text("k"), "v");
    EXPECT_EQ(language_list, QStringList({"English", "Deutsch"}));
    EXPECT_EQ(language_index, 0);
}

TEST_F(language_table_test, reads_a_file_on_disk_like_the_same_bytes_in_memory) {
    const std::string path = scratch_dir("language-file") + "/language.ini";
    const std::string text = "[English]\nk=\"v\\tw\"\nx =\"y\"\n";
    write_file_bytes(path, std::vector<uint8_t>(text.begin(), text.end()));
    ASSERT_EQ(load_language_file(QString::fromStdString(path), "English", true), 0);
    EXPECT_EQ(language_text("k"), "v\tw");
    EXPECT_EQ(language_text("x "), "y");
    EXPECT_EQ(language_list, QStringList({"English"}));
}

TEST_F(language_table_test, hostile_lines_of_blanks_equals_and_quotes_finish) {
    // Worst case for the backtracking match: a full piece of "=" and quotes that never ends
    // in a quote, so every split is tried and fails.
    QByteArray line;
    while (line.size() < 2040) {
        line += " =\"";
    }
    line += "x";
    const QByteArray file = "[English]\n" + line + "\n" + line + line + "\nk=\"v\"\n";
    EXPECT_EQ(load_language_data(file, "English", true), 0);
    EXPECT_EQ(language_text("k"), "v");
}

}  // namespace
