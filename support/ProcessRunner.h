#pragma once

#include <string>
#include <vector>

// Runs a program to its end with extra environment variables and returns
// what it printed and how it exited.
struct ProcessResult {
    int status = -1;  // exit status, or -1 when it did not exit normally
    std::string out;
    std::string err;
};

ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& extraEnvironment = {});
