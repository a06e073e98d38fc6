#include "tests/support/fixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

std::string shell_quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

namespace {

std::string scratch_root() {
    static const std::string root = [] {
        std::string templ = (fs::temp_directory_path() / "quarnel-test-XXXXXX").string();
        char* made = mkdtemp(templ.data());
        return std::string(made ? made : "/tmp");
    }();
    return root;
}

}  // namespace

std::string scratch_dir(const std::string& hint) {
    static std::atomic<int> counter{0};
    fs::path dir = fs::path(scratch_root()) / (hint + "-" + std::to_string(counter++));
    fs::create_directories(dir);
    return dir.string();
}

std::string fixture_path(const std::string& name) {
    fs::path base = fs::path(QUARNEL_SOURCE_DIR) / "tests" / "fixtures" / name;
    fs::path packed = base;
    packed += ".gz";
    fs::path copy = fs::path(scratch_dir("fixture")) / base.filename();
    if (fs::exists(packed)) {
        run_command("gzip -dc " + shell_quote(packed.string()) + " > " +
                    shell_quote(copy.string()));
    } else {
        fs::copy_file(base, copy);
    }
    return copy.string();
}

int run_command(const std::string& command, std::string* out) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        return -1;
    }
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        if (out) {
            out->append(buffer, got);
        }
    }
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string file_sha256(const std::string& path) {
    std::string out;
    if (run_command("sha256sum " + shell_quote(path), &out) != 0 || out.size() < 64) {
        return {};
    }
    return out.substr(0, 64);
}

bool have_program(const std::string& name) {
    return run_command("command -v " + shell_quote(name) + " >/dev/null 2>&1") == 0;
}

bool running_as_root() {
    return geteuid() == 0;
}

std::vector<uint8_t> read_file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}
