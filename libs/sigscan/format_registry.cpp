#include <algorithm>

#include "libs/sigscan/format_readers.h"

namespace {

struct named_reader_s {
    const char* name;
    const format_reader_s* reader;
};

const named_reader_s readers[] = {
    {"jpg", &jpeg_reader},  {"png", &png_reader},       {"gif", &gif_reader},
    {"bmp", &bmp_reader},   {"tif", &tiff_reader},      {"pnm", &pnm_reader},
    {"xcf", &xcf_reader},   {"pdf", &pdf_reader},       {"zip", &zip_reader},
    {"ole", &ole_reader},   {"sqlite", &sqlite_reader}, {"mp3", &mp3_reader},
    {"riff", &riff_reader}, {"mp4", &mp4_reader},       {"ogg", &ogg_reader},
    {"mpg", &mpeg_reader},  {"gz", &gzip_reader},       {"7z", &sevenzip_reader},
    {"rar", &rar_reader},   {"elf", &elf_reader},       {"pe", &pe_reader},
};

}  // namespace

const format_reader_s* sc_find_format(std::string_view name) {
    for (const named_reader_s& entry : readers) {
        if (name == entry.name) {
            return entry.reader;
        }
    }
    return nullptr;
}

uint64_t sc_partial_end(carve_view_c& view, uint64_t from, uint64_t to) {
    to = std::min(to, view.limit());
    uint64_t fence = view.next_file_start(from, to);
    return fence != UINT64_MAX ? fence : to;
}
