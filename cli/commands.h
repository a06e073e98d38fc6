#pragma once

#include <string>
#include <vector>

// Each command takes its own arguments (without the command name) and returns the exit
// status: 0 success, 1 the work failed, 2 usage error.
int cmd_disks(const std::vector<std::string>& args);
int cmd_volumes(const std::vector<std::string>& args);
int cmd_scan(const std::vector<std::string>& args);
int cmd_load(const std::vector<std::string>& args);
int cmd_partitions(const std::vector<std::string>& args);

// Help text of one command, or of all when `command` is empty.
const char* command_help(const std::string& command);
