#pragma once

#include <QByteArray>

// The grammar of one line (or line piece) of the language file. A line is 8-bit text; keys
// stay raw bytes, names and values are UTF-8 and are decoded by the caller.

// A section header "[name]" with optional blanks around it. True with `name` filled in:
// everything between the first "[" and the last "]".
bool match_section_line(const QByteArray& line, QByteArray* name);

// An entry key="value". True with `key` (blanks before "=" included) and the raw `value`
// (from the first quote after the "=" to the last quote of the line, escapes not applied).
bool match_entry_line(const QByteArray& line, QByteArray* key, QByteArray* value);

// Turns every backslash-t into a tab, then every backslash-n into a line feed.
QByteArray unescape_value(QByteArray value);
