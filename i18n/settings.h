#pragma once

#include <QString>

// Loaded by load_settings and kept for the life of the process.
extern QString recovery_folder;   // written back unchanged with every save
extern QString current_language;  // display name, e.g. "English"; the language menu changes it

// Reads "Quarnel.ini" (see settings_file_path). With no language there, the user's locale
// decides and is stored at once; English is the last resort and is not stored. Then loads the
// English texts and the chosen language's on top. Returns 0.
int load_settings();

// Writes recovery_folder and current_language to the file that was read (or to the per-user
// configuration folder when none was) and flushes it. File-system failures are not reported.
// Returns 0.
int save_settings();

// The settings file in use since load_settings; empty before it.
QString settings_file_in_use();
