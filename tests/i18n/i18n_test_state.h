#pragma once

#include <unistd.h>

#include <QString>
#include <cstdlib>
#include <map>
#include <optional>
#include <ostream>
#include <string>

#include "i18n/language_table.h"

// Readable failure messages for texts.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

// The language tables are process-wide and never cleared by the program itself; each test
// starts from the state of a fresh process.
inline void reset_language_state() {
    language_table.clear();
    language_list.clear();
    language_index = 0;
}

// Runs a test in another current folder with some environment variables changed, and puts
// everything back afterwards.
class environment_guard_c {
public:
    explicit environment_guard_c(const std::string& folder) {
        char buffer[4096];
        if (getcwd(buffer, sizeof buffer) != nullptr) {
            old_folder_ = buffer;
        }
        if (chdir(folder.c_str()) != 0) {
            std::abort();
        }
    }
    ~environment_guard_c() {
        for (const auto& [name, value] : saved_) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
        if (!old_folder_.empty() && chdir(old_folder_.c_str()) != 0) {
            std::abort();
        }
    }
    environment_guard_c(const environment_guard_c&) = delete;
    environment_guard_c& operator=(const environment_guard_c&) = delete;

    // Sets (or, with nullptr, removes) one variable for the guard's lifetime.
    void set(const std::string& name, const char* value) {
        if (saved_.find(name) == saved_.end()) {
            const char* old = std::getenv(name.c_str());
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value) {
            setenv(name.c_str(), value, 1);
        } else {
            unsetenv(name.c_str());
        }
    }

private:
    std::string old_folder_;
    std::map<std::string, std::optional<std::string>> saved_;
};
