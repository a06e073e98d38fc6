// The language-file loader: the fuzzer's bytes as language.ini, read for the sections a
// user may pick, then a few texts looked up.
#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

#include "i18n/language_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    load_language_data(bytes, QStringLiteral("English"), false);
    load_language_data(bytes, QStringLiteral("Deutsch"), true);
    if (!language_list.isEmpty()) {
        load_language_data(bytes, language_list.last(), true);
    }
    language_text("home_text1");
    language_text("recovery_same_volume_warning");
    // The table only grows: start each input afresh so memory stays flat.
    language_table.clear();
    language_list.clear();
    language_index = 0;
    return 0;
}
