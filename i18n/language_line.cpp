#include "i18n/language_line.h"

#include <QRegularExpression>
#include <QString>

namespace {

// The file's writers rely on exactly this matching: blanks between a key and "=" belong to the
// key, and the value runs from the first quote after the "=" to the last quote of the line.
// These are ECMAScript expressions spelled out for PCRE, which backtracks in the same order
// but without libstdc++'s cost on long lines: \s is the six ASCII blanks (\x0b, since PCRE's
// \v would take in more), "." is anything but a line feed or carriage return, and the match
// spans the whole line. Each byte goes in as one Latin-1 character, so keys come back byte
// for byte.
constexpr const char* section_expression = R"(\A[\t\n\x0b\f\r ]*\[([^\n\r]*)\][\t\n\x0b\f\r ]*\z)";
constexpr const char* entry_expression =
    R"-(\A[\t\n\x0b\f\r ]*([^;][^\n\r]*)[\t\n\x0b\f\r ]*=[\t\n\x0b\f\r ]*"([^\n\r]+)"[\t\n\x0b\f\r ]*\z)-";

const QRegularExpression& section_pattern() {
    static const QRegularExpression pattern(QString::fromLatin1(section_expression));
    return pattern;
}

const QRegularExpression& entry_pattern() {
    static const QRegularExpression pattern(QString::fromLatin1(entry_expression));
    return pattern;
}

}  // namespace

bool match_section_line(const QByteArray& line, QByteArray* name) {
    const QRegularExpressionMatch match = section_pattern().match(QString::fromLatin1(line));
    if (!match.hasMatch()) {
        return false;
    }
    *name = match.captured(1).toLatin1();
    return true;
}

bool match_entry_line(const QByteArray& line, QByteArray* key, QByteArray* value) {
    const QRegularExpressionMatch match = entry_pattern().match(QString::fromLatin1(line));
    if (!match.hasMatch()) {
        return false;
    }
    *key = match.captured(1).toLatin1();
    *value = match.captured(2).toLatin1();
    return true;
}

QByteArray unescape_value(QByteArray value) {
    value.replace("\\t", "\t");
    value.replace("\\n", "\n");
    return value;
}
