// quarnel-cli: the command-line front end over the scan engines and the partition search.

#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("quarnel");
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fputs(command_help(""), stderr);
        return 2;
    }
    std::string command = args.front();
    args.erase(args.begin());
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(command_help(args.empty() ? "" : args.front()), stdout);
        return 0;
    }
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::fputs(command_help(command), stdout);
            return 0;
        }
    }
    if (command == "disks") {
        return cmd_disks(args);
    }
    if (command == "volumes") {
        return cmd_volumes(args);
    }
    if (command == "scan") {
        return cmd_scan(args);
    }
    if (command == "load") {
        return cmd_load(args);
    }
    if (command == "partitions") {
        return cmd_partitions(args);
    }
    std::fprintf(stderr, "quarnel-cli: unknown command '%s' (try quarnel-cli --help)\n",
                 command.c_str());
    return 2;
}
