#pragma once

#include <cstddef>
#include <cstdint>

// The master boot record: the first 512-byte sector of a disk.
namespace mbr {

constexpr size_t sector_bytes = 512;
constexpr size_t boot_code = 0;  // 440 BYTES: the boot program
constexpr size_t boot_code_bytes = 440;
constexpr size_t disk_signature = 440;  // DWORD + WORD, kept as found
constexpr size_t entries = 446;         // 4 entries of 16 bytes
constexpr size_t entry_bytes = 16;
constexpr size_t entry_count = 4;
constexpr size_t signature = 510;  // 2 BYTES: 0x55 0xAA

// Inside one entry.
constexpr size_t entry_status = 0;         // BYTE: 0x80 active, 0x00 not
constexpr size_t entry_chs_first = 1;      // 3 BYTES
constexpr size_t entry_type = 4;           // BYTE
constexpr size_t entry_chs_last = 5;       // 3 BYTES
constexpr size_t entry_lba_first = 8;      // DWORD
constexpr size_t entry_sector_count = 12;  // DWORD

constexpr uint8_t status_active = 0x80;
constexpr uint8_t status_inactive = 0x00;
constexpr uint8_t type_gpt_protective = 0xEE;
constexpr uint8_t signature_0 = 0x55;
constexpr uint8_t signature_1 = 0xAA;

// A GPT header starts the sector after the protective MBR with this text.
constexpr char gpt_header_magic[] = "EFI PART";
constexpr size_t gpt_header_magic_bytes = 8;

}  // namespace mbr
