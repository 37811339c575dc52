#pragma once

#include <string>

// Exit statuses of brem-cli; scripts depend on these numbers.
enum CliStatus : int {
    CLI_OK = 0,
    CLI_REFUSED = 1,
    CLI_USAGE = 2,
    CLI_PORT = 3,
    CLI_IMAGE = 4,
    CLI_SILENT = 5,
    CLI_LOG = 6,
    CLI_INTERRUPTED = 130,
    CLI_PIPE_CLOSED = 141, // as SIGPIPE ends a program
};

// The signal number that a closed stdout stands for (SIGPIPE on POSIX; Windows has none).
constexpr int g_nPipeSignal = CLI_PIPE_CLOSED - 128;

// What a status says about the device, in a few words: "the device refused a frame".
std::string StatusMeaning(int nStatus);
