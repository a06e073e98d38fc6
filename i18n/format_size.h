#pragma once

#include <QString>
#include <cstdint>

// A byte count as shown everywhere in the program: "%.2fG", "%.2fM" or "%.2fK" on powers of
// 1024 above each strictly exceeded unit, else "%dB" (so 1024 bytes is "1024B").
QString format_size(uint64_t bytes);
