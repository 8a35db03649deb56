#include "tests/support/tool_run.h"

#include <sys/wait.h>

#include <cstdlib>

#include "tests/support/test_paths.h"

std::string shell_quoted(const std::string &text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

ToolRun run_tool(const std::string &program, const std::vector<std::string> &args,
                 const std::string &scratch) {
    std::string command = shell_quoted(ZQ_BINARY_DIR "/" + program);
    for (const std::string &arg : args)
        command += " " + shell_quoted(arg);
    command += " >" + shell_quoted(scratch + "/out") + " 2>" + shell_quoted(scratch + "/err") +
               " </dev/null";
    int raw = std::system(command.c_str());
    return ToolRun{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_file(scratch + "/out"),
                   read_file(scratch + "/err")};
}
