#include "tests/robustness/robustness_cli.h"

#include <filesystem>
#include <vector>

#include "tests/support/fixture.h"

cli_run_s run_cli(const std::string& arguments) {
    static int counter = 0;
    const std::string err_file =
        scratch_dir("robustness-cli") + "/stderr" + std::to_string(counter++);
    cli_run_s run;
    run.status = run_command("TZ=UTC " + shell_quote(QUARNEL_CLI_PATH) + " " + arguments + " 2>" +
                                 shell_quote(err_file) + " </dev/null",
                             &run.out);
    const std::vector<uint8_t> err = read_file_bytes(err_file);
    run.err.assign(err.begin(), err.end());
    return run;
}

std::set<std::string> entries_under(const std::string& dir) {
    namespace fs = std::filesystem;
    std::set<std::string> out;
    std::error_code error;
    for (fs::recursive_directory_iterator it(dir, error), end; it != end; it.increment(error)) {
        out.insert(fs::relative(it->path(), dir).string());
    }
    return out;
}
