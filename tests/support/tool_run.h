// Runs a program of the build (zqrar, zqpack) from a shell, as a user
// would, and keeps what it printed.
#pragma once

#include <string>
#include <vector>

struct ToolRun {
    int status; // the exit status, -1 when the program did not exit
    std::string out;
    std::string err;
};

// text in single quotes for the shell.
std::string shell_quoted(const std::string &text);
// Runs ZQ_BINARY_DIR/program with args and no input; its output passes
// through the files "out" and "err" in the folder scratch.
ToolRun run_tool(const std::string &program, const std::vector<std::string> &args,
                 const std::string &scratch);
