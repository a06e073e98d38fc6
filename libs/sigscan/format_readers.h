#pragma once

#include "libs/sigscan/format_reader.h"

// The built-in readers, one per format family file.
extern const format_reader_s jpeg_reader;
extern const format_reader_s png_reader;
extern const format_reader_s gif_reader;
extern const format_reader_s bmp_reader;
extern const format_reader_s tiff_reader;
extern const format_reader_s pnm_reader;
extern const format_reader_s xcf_reader;
extern const format_reader_s pdf_reader;
extern const format_reader_s zip_reader;
extern const format_reader_s ole_reader;
extern const format_reader_s sqlite_reader;
extern const format_reader_s mp3_reader;
extern const format_reader_s riff_reader;
extern const format_reader_s mp4_reader;
extern const format_reader_s ogg_reader;
extern const format_reader_s mpeg_reader;
extern const format_reader_s gzip_reader;
extern const format_reader_s sevenzip_reader;
extern const format_reader_s rar_reader;
extern const format_reader_s elf_reader;
extern const format_reader_s pe_reader;

// Where a broken or cut-short file ends: at the first boundary in [from, to) where another
// recognised file starts, else at `to`.
uint64_t sc_partial_end(carve_view_c& view, uint64_t from, uint64_t to);
