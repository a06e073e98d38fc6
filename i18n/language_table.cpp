#include "i18n/language_table.h"

#include <QBuffer>
#include <QFile>
#include <cstring>

#include "i18n/data_paths.h"
#include "i18n/language_line.h"

QMap<QByteArray, QString> language_table;
QStringList language_list;
int32_t language_index = 0;

namespace {

// Lines are read into a buffer of this size, so a longer line arrives in pieces of at most
// 2047 bytes, and each piece is taken as a line of its own.
constexpr int line_buffer_size = 2048;

int read_sections(QIODevice& device, const QString& name, bool set_index) {
    language_list.clear();
    bool inside = false;
    char buffer[line_buffer_size];
    for (;;) {
        const qint64 got = device.readLine(buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        // A NUL byte ends the line's text, as it would for any C string.
        const QByteArray line(buffer, qsizetype(strnlen(buffer, static_cast<size_t>(got))));
        const bool was_inside = inside;
        QByteArray section;
        QByteArray key;
        QByteArray value;
        if (match_section_line(line, &section)) {
            const QString section_name = QString::fromUtf8(section);
            language_list.append(section_name);
            if (was_inside) {
                // The next header ends the wanted section, even when it repeats the name.
                inside = false;
            } else if (section_name == name) {
                inside = true;
                if (set_index) {
                    language_index = static_cast<int32_t>(language_list.size() - 1);
                }
            } else {
                inside = false;
            }
        } else if (was_inside && match_entry_line(line, &key, &value)) {
            language_table.insert(key, QString::fromUtf8(unescape_value(value)));
        }
    }
    return 0;
}

}  // namespace

int load_language(const QString& name, bool set_index) {
    return load_language_file(language_file_path(), name, set_index);
}

int load_language_file(const QString& path, const QString& name, bool set_index) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return -1;
    }
    return read_sections(file, name, set_index);
}

int load_language_data(const QByteArray& data, const QString& name, bool set_index) {
    QBuffer buffer;
    buffer.setData(data);
    if (!buffer.open(QIODevice::ReadOnly)) {
        return -1;
    }
    return read_sections(buffer, name, set_index);
}

QString language_text(const QByteArray& key) {
    return language_table[key];
}
