#pragma once

#include <QList>
#include <cstdint>
#include <unordered_map>

// One found entry of the FAT or NTFS engine. Records live in a node-based map and never
// move once stored, so `children` and the models keep plain pointers to them.
template <typename entry_t>
struct file_record_s {
    entry_t entry{};
    bool has_found = false;                   // a found file lies somewhere below this folder
    QList<file_record_s<entry_t>*> children;  // records whose parent is this one
};

// Entry id → record. std::unordered_map keeps each element at a fixed address until it is
// erased, which the pointers in `children` rely on.
template <typename key_t, typename entry_t>
using record_map_t = std::unordered_map<key_t, file_record_s<entry_t>>;
