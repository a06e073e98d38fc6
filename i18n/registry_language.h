#pragma once

#include <QString>

// The interface language the user's locale asks for (LC_ALL, then LC_MESSAGES, then LANG:
// the first one set decides), as a section name of the language file such as "Deutsch";
// empty when the locale names none of the languages we ship.
QString registry_language();

// The same for one locale name such as "de_DE.UTF-8", "zh_TW" or "pt_BR@euro".
QString language_for_locale(const QString& locale);
