#pragma once

#include <QString>
#include <QStringList>

// Where "language.ini" may lie, in the order it is looked for: the current folder, the folder
// of the program, the installed data folder.
QStringList language_file_candidates();
// The first candidate that exists, or the current folder's when none does (which then fails
// to open, as a missing file should).
QString language_file_path();

// Where "Quarnel.ini" is read and saved: the current folder's when it exists, else the file in
// the per-user configuration folder ($XDG_CONFIG_HOME/quarnel, usually ~/.config/quarnel).
QString settings_file_path();
