#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Path of a committed fixture under tests/fixtures, decompressed into a private scratch
// folder when it is stored as NAME.gz. Each call gives a fresh copy, so a test may change it.
std::string fixture_path(const std::string& name);

// A fresh empty folder for one test, removed by the test's end or left for a post-mortem.
std::string scratch_dir(const std::string& hint);

// `text` in single quotes for the shell.
std::string shell_quote(const std::string& text);

// Runs a shell command; returns its exit status and fills `out` with its standard output.
int run_command(const std::string& command, std::string* out = nullptr);

// SHA-256 of a file, as hex (empty when it cannot be read).
std::string file_sha256(const std::string& path);

// Whether a program is on PATH, and whether we run as root (for loop devices, mounts).
bool have_program(const std::string& name);
bool running_as_root();

// Reads or writes a whole file.
std::vector<uint8_t> read_file_bytes(const std::string& path);
void write_file_bytes(const std::string& path, const std::vector<uint8_t>& bytes);
