#pragma once

#include <QString>

// Copies `source` to `target` (an existing target is replaced) in 128 KiB pieces.
// Returns 0 only for a complete copy; -1 when either file cannot be opened, when both paths
// name the same file (nothing is touched then), or when a read or write fails part way (the
// shortened target is left in place for the caller to judge).
int copy_file(const QString& source, const QString& target);
