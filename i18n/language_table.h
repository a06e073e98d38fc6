#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <cstdint>

// Every visible text by key. Keys are the raw bytes of the language file, compared byte for
// byte; filled by load_language and never cleared, so a later load only overwrites.
extern QMap<QByteArray, QString> language_table;

// Section names of the language file in file order (duplicates kept), for the language menu.
extern QStringList language_list;

// Position of the current language in language_list (0 until a load or the menu sets it).
extern int32_t language_index;

// Reads the section `name` of the language file (found by language_file_path) into
// language_table; with set_index, the section becomes the current language.
// Returns 0 when the file could be opened, -1 when not (nothing changes then).
int load_language(const QString& name, bool set_index);

// The same over a given file, or over the file's bytes already in memory.
int load_language_file(const QString& path, const QString& name, bool set_index);
int load_language_data(const QByteArray& data, const QString& name, bool set_index);

// The text stored under `key`. An unknown key is stored with an empty text, which is returned.
// UI thread only: a lookup may insert into the table.
QString language_text(const QByteArray& key);
