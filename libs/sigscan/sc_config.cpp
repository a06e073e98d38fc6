#include "libs/sigscan/sc_config.h"

#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "libs/sigscan/format_reader.h"
#include "libs/sigscan/sigscan.h"

#ifndef QUARNEL_DATA_DIR
#define QUARNEL_DATA_DIR "/usr/local/share/quarnel"
#endif

namespace {

constexpr size_t max_pattern_bytes = 64;

const char default_text[] = R"(# Quarnel deep-scan file types.
#
# One type per line:   EXTENSION  MAX-SIZE  HEADER  [OPTIONS...]
#   EXTENSION   reported for the type, lower case, without a dot (at most 8 characters are
#               kept in a saved scan result).
#   MAX-SIZE    the largest size a find may have: bytes, or a number with K, M or G
#               (powers of 1024). A find never runs past this nor past the end of the device.
#   HEADER      the file's first bytes in hex; "?" stands for any nibble, "??" for any byte.
#   OPTIONS     footer=HEX   the file ends after the last HEX found before the next
#                            recognised file starts (for types without a built-in reader)
#               format=NAME  read the file's structure with the built-in reader NAME to find
#                            its exact end and its real type; a type whose extension names a
#                            built-in reader uses it without this option
#               any-offset   the file may start at any byte, not only at the 512-byte
#                            boundaries where file systems place files (slower)
#               off          known but not searched
# A type may have several lines with different headers. Blank lines and text after "#" are
# ignored. Built-in readers: jpg png gif bmp tif pnm xcf pdf zip ole sqlite mp3 riff mp4 ogg
# mpg gz 7z rar elf pe.

jpg     64M   ffd8ff
png     64M   89504e470d0a1a0a
gif     32M   474946383761
gif     32M   474946383961
bmp     64M   424d
tif     256M  49492a00
tif     256M  4d4d002a
pdf     512M  255044462d
zip     4G    504b0304
ole     1G    d0cf11e0a1b11ae1
mp3     256M  494433
mp3     256M  fff?               format=mp3
mp3     256M  ffe?               format=mp3
wav     4G    52494646????????57415645   format=riff
avi     4G    52494646????????41564920   format=riff
webp    64M   52494646????????57454250   format=riff
mp4     16G   ????????66747970   format=mp4
ogg     1G    4f6767530002
mpg     4G    000001ba
pbm     64M   5034               format=pnm
pgm     64M   5035               format=pnm
ppm     64M   5036               format=pnm
xcf     256M  67696d7020786366
gz      4G    1f8b08
7z      4G    377abcaf271c
rar     4G    526172211a0700
rar     4G    526172211a070100
sqlite  4G    53514c69746520666f726d6174203300
elf     256M  7f454c46
exe     256M  4d5a               format=pe
)";

int hex_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// Hex with "?" nibble wildcards into bytes and masks. False on odd length or a bad digit.
bool parse_pattern(const std::string& text, std::vector<uint8_t>& bytes,
                   std::vector<uint8_t>* mask) {
    if (text.empty() || text.size() % 2 != 0 || text.size() / 2 > max_pattern_bytes) {
        return false;
    }
    bytes.clear();
    if (mask) {
        mask->clear();
    }
    for (size_t i = 0; i < text.size(); i += 2) {
        uint8_t value = 0;
        uint8_t bits = 0;
        for (size_t k = 0; k < 2; ++k) {
            char c = text[i + k];
            value = static_cast<uint8_t>(value << 4);
            bits = static_cast<uint8_t>(bits << 4);
            if (c == '?' && mask) {
                continue;
            }
            int v = hex_value(c);
            if (v < 0) {
                return false;
            }
            value = static_cast<uint8_t>(value | v);
            bits = static_cast<uint8_t>(bits | 0x0F);
        }
        bytes.push_back(value);
        if (mask) {
            mask->push_back(bits);
        }
    }
    return true;
}

bool parse_size(const std::string& text, uint64_t& out) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) {
        return false;
    }
    size_t used = 0;
    unsigned long long number = 0;
    try {
        number = std::stoull(text, &used);
    } catch (...) {
        return false;
    }
    uint64_t unit = 1;
    std::string rest = text.substr(used);
    if (rest == "K" || rest == "k") {
        unit = 1ULL << 10;
    } else if (rest == "M" || rest == "m") {
        unit = 1ULL << 20;
    } else if (rest == "G" || rest == "g") {
        unit = 1ULL << 30;
    } else if (!rest.empty()) {
        return false;
    }
    if (number == 0 || number > UINT64_MAX / unit) {
        return false;
    }
    out = number * unit;
    return true;
}

bool valid_extension(const std::string& text) {
    if (text.empty() || text.size() > 16) {
        return false;
    }
    for (char c : text) {
        if (!(std::islower(static_cast<unsigned char>(c)) ||
              std::isdigit(static_cast<unsigned char>(c)) || c == '_')) {
            return false;
        }
    }
    return true;
}

// One line into a type. Returns false with `why` set for a line that cannot be used.
bool parse_line(const std::string& line, sc_type_s& type, std::string& why) {
    std::istringstream fields(line);
    std::string extension, size, header, option;
    fields >> extension >> size >> header;
    if (!valid_extension(extension)) {
        why = "the extension \"" + extension + "\" must be lower-case letters or digits";
        return false;
    }
    type.extension = extension;
    if (!parse_size(size, type.max_size)) {
        why = "the maximum size \"" + size + "\" is not a number with an optional K, M or G";
        return false;
    }
    if (!parse_pattern(header, type.header, &type.header_mask)) {
        why = "the header \"" + header + "\" is not hex (with ? wildcards) of at most 64 bytes";
        return false;
    }
    bool fixed_byte = false;
    for (uint8_t m : type.header_mask) {
        fixed_byte = fixed_byte || m == 0xFF;
    }
    if (!fixed_byte) {
        why = "the header needs at least one byte without wildcards";
        return false;
    }
    if (sc_find_format(extension)) {
        type.format = extension;
    }
    while (fields >> option) {
        if (option == "off") {
            type.enabled = false;
        } else if (option == "any-offset") {
            type.any_offset = true;
        } else if (option.rfind("footer=", 0) == 0) {
            if (!parse_pattern(option.substr(7), type.footer, nullptr)) {
                why = "the footer \"" + option.substr(7) + "\" is not hex of at most 64 bytes";
                return false;
            }
        } else if (option.rfind("format=", 0) == 0) {
            type.format = option.substr(7);
            if (!sc_find_format(type.format)) {
                why = "there is no built-in reader called \"" + type.format + "\"";
                return false;
            }
        } else {
            why = "unknown option \"" + option + "\"";
            return false;
        }
    }
    return true;
}

std::mutex config_lock;
std::shared_ptr<const sc_config_s> loaded_config;

std::shared_ptr<const sc_config_s> builtin_config() {
    static const std::shared_ptr<const sc_config_s> config = [] {
        auto made = std::make_shared<sc_config_s>();
        sc_parse_config(default_text, *made, nullptr);
        return made;
    }();
    return config;
}

std::string program_dir() {
    std::error_code error;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : exe.parent_path().string();
}

}  // namespace

int sc_parse_config(const std::string& text, sc_config_s& out, std::string* message) {
    std::istringstream lines(text);
    std::string line;
    int line_number = 0;
    int status = 0;
    while (std::getline(lines, line)) {
        ++line_number;
        size_t hash = line.find('#');
        if (hash != std::string::npos) {
            line.erase(hash);
        }
        if (line.find_first_not_of(" \t\r") == std::string::npos) {
            continue;
        }
        sc_type_s type;
        std::string why;
        if (!parse_line(line, type, why)) {
            status = -1;
            if (message) {
                *message += "line " + std::to_string(line_number) + ": " + why + "\n";
            }
            continue;
        }
        out.types.push_back(std::move(type));
    }
    return status;
}

const char* sc_default_config_text() {
    return default_text;
}

std::string sc_find_config_file(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::is_regular_file(path, error)) {
        return path;
    }
    fs::path name = fs::path(path).filename();
    if (name.empty()) {
        return {};
    }
    std::string beside = program_dir();
    for (const std::string& dir : {beside, std::string(QUARNEL_DATA_DIR)}) {
        if (dir.empty()) {
            continue;
        }
        fs::path candidate = fs::path(dir) / name;
        if (fs::is_regular_file(candidate, error)) {
            return candidate.string();
        }
    }
    return {};
}

std::shared_ptr<const sc_config_s> sc_current_config() {
    std::lock_guard<std::mutex> hold(config_lock);
    return loaded_config ? loaded_config : builtin_config();
}

int sc_load_config(const char* path, std::string* message) {
    std::string found = sc_find_config_file(path ? path : "");
    if (found.empty()) {
        std::lock_guard<std::mutex> hold(config_lock);
        loaded_config.reset();
        return 1;
    }
    std::ifstream in(found, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) {
        if (message) {
            *message = found + ": cannot be read; the built-in file types apply\n";
        }
        return -1;
    }
    auto config = std::make_shared<sc_config_s>();
    std::string why;
    int status = sc_parse_config(text.str(), *config, &why);
    if (message && !why.empty()) {
        *message = found + ":\n" + why;
    }
    std::lock_guard<std::mutex> hold(config_lock);
    loaded_config = std::move(config);
    return status;
}
