#include <gtest/gtest.h>

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "i18n/language_table.h"
#include "tests/i18n/i18n_test_state.h"
#include "tests/support/fixture.h"

namespace fs = std::filesystem;

namespace {

const std::string source_dir = QUARNEL_SOURCE_DIR;

std::string language_file() {
    return source_dir + "/language.ini";
}

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    const size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// What a reader of the file sees, without the parser: sections in order, and in each the key
// before the first "=" and the text between the first and the last quote after it.
struct plain_section_s {
    std::string name;
    std::map<std::string, std::string> entries;
};

std::vector<plain_section_s> plain_scan(const std::string& text) {
    std::vector<plain_section_s> sections;
    for (const std::string& raw : split_lines(text)) {
        const std::string line = trim(raw);
        if (line.empty() || line[0] == ';') {
            continue;
        }
        if (line.front() == '[' && line.back() == ']') {
            sections.push_back({line.substr(1, line.size() - 2), {}});
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string::npos || sections.empty()) {
            continue;
        }
        const size_t open = line.find('"', equals);
        const size_t close = line.rfind('"');
        const std::string value = open != std::string::npos && close > open
                                      ? line.substr(open + 1, close - open - 1)
                                      : std::string();
        sections.back().entries[trim(line.substr(0, equals))] = value;
    }
    return sections;
}

std::string unescape(std::string value) {
    for (const auto& [escape, replacement] : {std::pair{"\\t", "\t"}, std::pair{"\\n", "\n"}}) {
        size_t at = 0;
        while ((at = value.find(escape, at)) != std::string::npos) {
            value.replace(at, 2, replacement);
            at += 1;
        }
    }
    return value;
}

bool skipped_folder(const fs::path& path) {
    const std::string name = path.filename().string();
    return name.rfind("build", 0) == 0 || name.rfind('.', 0) == 0 || name == "tests" ||
           name == "fuzz";
}

// Every key the program looks up: the literal keys of all language_text calls in the
// sources, plus the list kept for GUI code that is not written yet.
std::set<std::string> used_keys() {
    std::set<std::string> keys;
    const std::regex call(R"(language_text\s*\(\s*"([^"\\]*)\"\s*\))");
    for (auto it = fs::recursive_directory_iterator(source_dir);
         it != fs::recursive_directory_iterator(); ++it) {
        if (it->is_directory() && skipped_folder(it->path())) {
            it.disable_recursion_pending();
            continue;
        }
        const std::string extension = it->path().extension().string();
        if (!it->is_regular_file() || (extension != ".cpp" && extension != ".h")) {
            continue;
        }
        const std::string text = read_text(it->path());
        for (auto match = std::sregex_iterator(text.begin(), text.end(), call);
             match != std::sregex_iterator(); ++match) {
            keys.insert((*match)[1].str());
        }
    }
    const fs::path list = fs::path(source_dir) / "i18n" / "used_keys.txt";
    if (fs::exists(list)) {
        for (const std::string& raw : split_lines(read_text(list))) {
            const std::string line = trim(raw);
            if (!line.empty() && line[0] != '#') {
                keys.insert(line);
            }
        }
    }
    return keys;
}

const char* const shipped_languages[] = {"English",    "Deutsch",  "Español",  "Français",
                                         "Italiano",   "日本語",   "简体中文", "繁體中文",
                                         "Nederlands", "Português"};

TEST(language_file_test, has_the_ten_languages_in_order) {
    reset_language_state();
    ASSERT_EQ(load_language_file(QString::fromStdString(language_file()), "English", true), 0);
    QStringList expected;
    for (const char* name : shipped_languages) {
        expected << QString::fromUtf8(name);
    }
    EXPECT_EQ(language_list, expected);
}

TEST(language_file_test, lines_survive_the_reader) {
    const std::string text = read_text(language_file());
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.rfind("\xEF\xBB\xBF", 0), 0u) << "a byte-order mark hides the first section";
    const std::vector<std::string> lines = split_lines(text);
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_LT(lines[i].size() + 1, 2048u) << "line " << i + 1 << " is cut into pieces";
        EXPECT_EQ(lines[i].find('\r'), std::string::npos) << "line " << i + 1;
    }
}

TEST(language_file_test, parser_loses_no_key_and_no_text) {
    const std::vector<plain_section_s> sections = plain_scan(read_text(language_file()));
    ASSERT_EQ(sections.size(), std::size(shipped_languages));
    for (const plain_section_s& section : sections) {
        SCOPED_TRACE(section.name);
        reset_language_state();
        ASSERT_EQ(load_language_file(QString::fromStdString(language_file()),
                                     QString::fromStdString(section.name), true),
                  0);
        std::set<std::string> parsed;
        for (auto it = language_table.cbegin(); it != language_table.cend(); ++it) {
            parsed.insert(it.key().toStdString());
        }
        std::set<std::string> plain;
        for (const auto& [key, value] : section.entries) {
            plain.insert(key);
            EXPECT_FALSE(value.empty()) << key << " has an empty or unquoted text";
            EXPECT_EQ(language_table.value(QByteArray::fromStdString(key)).toStdString(),
                      unescape(value))
                << key;
        }
        EXPECT_EQ(parsed, plain);
    }
}

TEST(language_file_test, every_language_defines_every_key) {
    const std::vector<plain_section_s> sections = plain_scan(read_text(language_file()));
    ASSERT_FALSE(sections.empty());
    std::set<std::string> english;
    for (const auto& [key, value] : sections.front().entries) {
        english.insert(key);
    }
    for (const plain_section_s& section : sections) {
        std::set<std::string> keys;
        for (const auto& [key, value] : section.entries) {
            keys.insert(key);
        }
        EXPECT_EQ(keys, english) << section.name;
    }
}

TEST(language_file_test, every_key_the_code_looks_up_has_a_text_in_every_language) {
    const std::set<std::string> keys = used_keys();
    ASSERT_FALSE(keys.empty()) << "no language_text call and no key list found";
    for (const char* name : shipped_languages) {
        reset_language_state();
        // Only this section, without the English base, so a gap cannot hide behind English.
        ASSERT_EQ(load_language_file(QString::fromStdString(language_file()),
                                     QString::fromUtf8(name), true),
                  0);
        for (const std::string& key : keys) {
            EXPECT_FALSE(language_table.value(QByteArray::fromStdString(key)).isEmpty())
                << name << " has no text for " << key;
        }
    }
}

}  // namespace
