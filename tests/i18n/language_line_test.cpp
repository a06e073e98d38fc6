#include <gtest/gtest.h>

#include <QByteArray>
#include <cstdint>
#include <locale>
#include <ostream>
#include <regex>
#include <string>

#include "i18n/language_line.h"

namespace {

// The grammar as first written, with ECMAScript semantics: the reference our matcher must
// agree with on every line.
std::regex reference(const char* expression) {
    std::regex compiled;
    compiled.imbue(std::locale::classic());
    compiled.assign(expression, std::regex::ECMAScript);
    return compiled;
}

struct outcome_s {
    bool matched = false;
    std::string first;
    std::string second;
    bool operator==(const outcome_s&) const = default;
};

outcome_s reference_section(const std::string& line) {
    static const std::regex pattern = reference(R"(^\s*\[(.*)\]\s*$)");
    std::smatch match;
    if (!std::regex_match(line, match, pattern)) {
        return {};
    }
    return {true, match[1].str(), {}};
}

outcome_s reference_entry(const std::string& line) {
    static const std::regex pattern = reference(R"-(^\s*([^;].*)\s*=\s*"(.+)"\s*$)-");
    std::smatch match;
    if (!std::regex_match(line, match, pattern)) {
        return {};
    }
    return {true, match[1].str(), match[2].str()};
}

outcome_s our_section(const std::string& line) {
    QByteArray name;
    if (!match_section_line(QByteArray::fromStdString(line), &name)) {
        return {};
    }
    return {true, name.toStdString(), {}};
}

outcome_s our_entry(const std::string& line) {
    QByteArray key;
    QByteArray value;
    if (!match_entry_line(QByteArray::fromStdString(line), &key, &value)) {
        return {};
    }
    return {true, key.toStdString(), value.toStdString()};
}

std::string printable(const std::string& line) {
    std::string out;
    for (unsigned char c : line) {
        if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}

void PrintTo(const outcome_s& outcome, std::ostream* out) {
    if (!outcome.matched) {
        *out << "no match";
        return;
    }
    *out << "[" << printable(outcome.first) << "] [" << printable(outcome.second) << "]";
}

TEST(language_line_test, agrees_with_the_ecmascript_reference_on_tricky_lines) {
    // Blanks of every kind, the bytes PCRE could take for blanks or line ends (0x85, 0xa0),
    // and the grammar's own punctuation.
    const char alphabet[] = {' ',
                             '\t',
                             '\n',
                             '\r',
                             '\v',
                             '\f',
                             '=',
                             '"',
                             ';',
                             '[',
                             ']',
                             'a',
                             'b',
                             '\\',
                             static_cast<char>(0x85),
                             static_cast<char>(0xa0),
                             static_cast<char>(0xc3)};
    uint32_t state = 2024;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    const char blanks[] = {
        ' ', '\t', '\n', '\r', '\v', '\f', static_cast<char>(0x85), static_cast<char>(0xa0)};
    auto some = [&next](const char* from, size_t size, uint32_t most) {
        std::string text;
        for (uint32_t i = next() % (most + 1); i > 0; --i) {
            text += from[next() % size];
        }
        return text;
    };
    auto any = [&](uint32_t most) { return some(alphabet, sizeof alphabet, most); };
    auto blank = [&] { return some(blanks, sizeof blanks, 2); };
    int entries = 0;
    int sections = 0;
    for (int round = 0; round < 30000; ++round) {
        // A third each: random bytes, near-entries and near-headers whose parts are random.
        std::string line;
        switch (next() % 3) {
            case 0:
                line = any(14);
                break;
            case 1:
                line = blank() + any(4) + blank() + "=" + blank() + "\"" + any(4) + "\"" + blank();
                break;
            default:
                line = blank() + "[" + any(4) + "]" + blank();
                break;
        }
        const outcome_s entry = reference_entry(line);
        const outcome_s section = reference_section(line);
        entries += entry.matched;
        sections += section.matched;
        ASSERT_EQ(our_entry(line), entry) << printable(line);
        ASSERT_EQ(our_section(line), section) << printable(line);
    }
    // The random lines must exercise both kinds of match, or the agreement proves little.
    EXPECT_GT(entries, 1000);
    EXPECT_GT(sections, 1000);
}

TEST(language_line_test, unescapes_tab_then_line_feed) {
    EXPECT_EQ(unescape_value("a\\tb\\nc"), "a\tb\nc");
    EXPECT_EQ(unescape_value("\\\\t"), "\\\t");
    EXPECT_EQ(unescape_value("\\\\n\\t"), "\\\n\t");
    EXPECT_EQ(unescape_value("\\r\\"), "\\r\\");
}

}  // namespace
