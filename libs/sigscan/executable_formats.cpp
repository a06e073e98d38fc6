// Structure readers for programs: ELF and PE (Windows .exe and .dll).
#include <cstring>
#include <vector>

#include "libs/sigscan/byte_order.h"
#include "libs/sigscan/format_readers.h"

using namespace sc_bytes;

namespace {

// ELF header.
constexpr size_t elf_class_at = 4;
constexpr size_t elf_data_at = 5;
constexpr size_t elf_version_at = 6;
constexpr size_t elf_type_at = 16;
constexpr uint8_t elf_class32 = 1;
constexpr uint8_t elf_class64 = 2;
constexpr uint8_t elf_little = 1;
constexpr uint8_t elf_big = 2;
constexpr uint32_t elf_section_nobits = 8;
constexpr uint32_t elf_max_headers = 65535;
constexpr size_t elf_header64_bytes = 64;
constexpr uint16_t elf_max_entry_bytes = 256;

// Where the fields sit in the 32-bit and the 64-bit layouts.
struct elf_fields_s {
    size_t phoff, shoff, ehsize, phentsize, phnum, shentsize, shnum;
    uint16_t header_bytes, min_ph_entry, min_sh_entry;
    size_t ph_offset, ph_file_size, sh_offset, sh_size;
};
constexpr elf_fields_s elf32_fields = {28, 32, 40, 42, 44, 46, 48, 52, 32, 40, 4, 16, 16, 20};
constexpr elf_fields_s elf64_fields = {32, 40, 52, 54, 56, 58, 60, 64, 56, 64, 8, 32, 24, 32};
constexpr size_t elf_sh_type_at = 4;
constexpr uint8_t elf_magic[4] = {0x7F, 'E', 'L', 'F'};

struct elf_layout_s {
    bool wide;
    bool little;
    const elf_fields_s* fields;
    uint64_t phoff, shoff;
    uint16_t ehsize, phentsize, phnum, shentsize, shnum;
};

bool elf_parse(const uint8_t* p, size_t n, elf_layout_s& e) {
    if (n < elf_header64_bytes || std::memcmp(p, elf_magic, sizeof elf_magic) != 0) {
        return false;
    }
    uint8_t cls = p[elf_class_at];
    uint8_t data = p[elf_data_at];
    if ((cls != elf_class32 && cls != elf_class64) || (data != elf_little && data != elf_big) ||
        p[elf_version_at] != 1) {
        return false;
    }
    e.wide = cls == elf_class64;
    e.little = data == elf_little;
    e.fields = e.wide ? &elf64_fields : &elf32_fields;
    auto u16 = [&](size_t at) { return e.little ? le16(p + at) : be16(p + at); };
    auto u32 = [&](size_t at) { return e.little ? le32(p + at) : be32(p + at); };
    auto u64 = [&](size_t at) { return e.little ? le64(p + at) : be64(p + at); };
    uint16_t type = u16(elf_type_at);
    if (type == 0 || type > 4) {
        return false;
    }
    const elf_fields_s& f = *e.fields;
    e.phoff = e.wide ? u64(f.phoff) : u32(f.phoff);
    e.shoff = e.wide ? u64(f.shoff) : u32(f.shoff);
    e.ehsize = u16(f.ehsize);
    e.phentsize = u16(f.phentsize);
    e.phnum = u16(f.phnum);
    e.shentsize = u16(f.shentsize);
    e.shnum = u16(f.shnum);
    return e.ehsize >= f.header_bytes &&
           (e.phnum == 0 ||
            (e.phentsize >= f.min_ph_entry && e.phentsize <= elf_max_entry_bytes)) &&
           (e.shnum == 0 || (e.shentsize >= f.min_sh_entry && e.shentsize <= elf_max_entry_bytes));
}

bool elf_probe(const uint8_t* p, size_t n) {
    elf_layout_s e{};
    return elf_parse(p, n, e);
}

bool elf_carve(carve_view_c& view, carve_result_s& out) {
    uint8_t head[elf_header64_bytes];
    elf_layout_s e{};
    if (!view.read(0, head, sizeof head) || !elf_parse(head, sizeof head, e)) {
        return false;
    }
    auto u32 = [&](const uint8_t* p) { return e.little ? le32(p) : be32(p); };
    auto u64 = [&](const uint8_t* p) { return e.little ? le64(p) : be64(p); };
    uint64_t end = e.ehsize;
    if (e.phnum > 0) {
        end = std::max<uint64_t>(end, e.phoff + uint64_t{e.phnum} * e.phentsize);
        std::vector<uint8_t> table(uint64_t{e.phnum} * e.phentsize);
        if (e.phnum <= elf_max_headers && view.read(e.phoff, table.data(), table.size())) {
            for (uint16_t i = 0; i < e.phnum; ++i) {
                const uint8_t* ph = table.data() + uint64_t{i} * e.phentsize;
                uint64_t offset =
                    e.wide ? u64(ph + e.fields->ph_offset) : u32(ph + e.fields->ph_offset);
                uint64_t size =
                    e.wide ? u64(ph + e.fields->ph_file_size) : u32(ph + e.fields->ph_file_size);
                end = std::max(end, offset + size);
            }
        }
    }
    if (e.shnum > 0) {
        end = std::max<uint64_t>(end, e.shoff + uint64_t{e.shnum} * e.shentsize);
        std::vector<uint8_t> table(uint64_t{e.shnum} * e.shentsize);
        if (view.read(e.shoff, table.data(), table.size())) {
            for (uint16_t i = 0; i < e.shnum; ++i) {
                const uint8_t* sh = table.data() + uint64_t{i} * e.shentsize;
                if (u32(sh + elf_sh_type_at) == elf_section_nobits) {
                    continue;
                }
                uint64_t offset =
                    e.wide ? u64(sh + e.fields->sh_offset) : u32(sh + e.fields->sh_offset);
                uint64_t size = e.wide ? u64(sh + e.fields->sh_size) : u32(sh + e.fields->sh_size);
                end = std::max(end, offset + size);
            }
        }
    }
    out.size = std::min(end, view.limit());
    return true;
}

// PE: the DOS header points at the "PE" header, whose section table gives the raw data.
constexpr size_t mz_pe_offset_at = 0x3C;
constexpr uint32_t mz_max_pe_offset = 0x10000;
constexpr size_t pe_sections_at = 6;
constexpr size_t pe_optional_size_at = 20;
constexpr size_t pe_characteristics_at = 22;
constexpr size_t pe_optional_at = 24;
constexpr uint16_t pe_magic32 = 0x10B;
constexpr uint16_t pe_magic64 = 0x20B;
constexpr size_t pe_headers_size_at = 60;   // within the optional header
constexpr size_t pe_directories32_at = 96;  // within the optional header
constexpr size_t pe_directories64_at = 112;
constexpr size_t pe_security_directory = 4;  // its "address" is a file offset
constexpr uint64_t pe_section_bytes = 40;
constexpr size_t pe_section_raw_size_at = 16;
constexpr size_t pe_section_raw_pointer_at = 20;
constexpr uint16_t pe_dll = 0x2000;
constexpr uint16_t pe_max_sections = 96;

bool pe_probe(const uint8_t* p, size_t n) {
    if (n < mz_pe_offset_at + 4) {
        return false;
    }
    uint32_t pe = le32(p + mz_pe_offset_at);
    if (pe < mz_pe_offset_at + 4 || pe > mz_max_pe_offset) {
        return false;
    }
    return pe + 4 > n || std::memcmp(p + pe, "PE\0\0", 4) == 0;
}

bool pe_carve(carve_view_c& view, carve_result_s& out) {
    uint8_t dos[mz_pe_offset_at + 4];
    if (!view.read(0, dos, sizeof dos) || !pe_probe(dos, sizeof dos)) {
        return false;
    }
    uint64_t pe = le32(dos + mz_pe_offset_at);
    uint8_t head[pe_optional_at];
    if (!view.read(pe, head, sizeof head) || std::memcmp(head, "PE\0\0", 4) != 0) {
        return false;
    }
    uint16_t sections = le16(head + pe_sections_at);
    uint16_t optional_size = le16(head + pe_optional_size_at);
    if (sections == 0 || sections > pe_max_sections) {
        return false;
    }
    std::vector<uint8_t> optional(optional_size);
    if (!view.read(pe + pe_optional_at, optional.data(), optional.size()) ||
        optional_size < pe_directories32_at) {
        return false;
    }
    uint16_t magic = le16(optional.data());
    if (magic != pe_magic32 && magic != pe_magic64) {
        return false;
    }
    uint64_t end = le32(optional.data() + pe_headers_size_at);
    size_t directories = magic == pe_magic32 ? pe_directories32_at : pe_directories64_at;
    size_t security = directories + pe_security_directory * 8;
    if (security + 8 <= optional.size()) {
        uint32_t offset = le32(optional.data() + security);
        uint32_t size = le32(optional.data() + security + 4);
        if (offset && size) {
            end = std::max<uint64_t>(end, uint64_t{offset} + size);
        }
    }
    std::vector<uint8_t> table(sections * pe_section_bytes);
    if (!view.read(pe + pe_optional_at + optional_size, table.data(), table.size())) {
        return false;
    }
    for (uint16_t i = 0; i < sections; ++i) {
        const uint8_t* s = table.data() + i * pe_section_bytes;
        uint32_t size = le32(s + pe_section_raw_size_at);
        uint32_t pointer = le32(s + pe_section_raw_pointer_at);
        if (size) {
            end = std::max<uint64_t>(end, uint64_t{pointer} + size);
        }
    }
    out.size = std::min(end, view.limit());
    out.extension = (le16(head + pe_characteristics_at) & pe_dll) ? "dll" : "exe";
    return true;
}

}  // namespace

const format_reader_s elf_reader = {"elf", elf_probe, elf_carve};
const format_reader_s pe_reader = {"pe", pe_probe, pe_carve};
