// A helper program run until it has reported enough, then killed with
// SIGKILL (POSIX builds only): for the tests of what survives a crash.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Runs program with args, reading its standard output line by line, until
// enough(lines) holds, the program ends or 20 seconds pass; then waits
// delayMicroseconds and kills it.  Returns every whole line it wrote, also
// those still in the pipe at the kill.
std::vector<std::string> RunUntilKilled(const std::string &program, const std::vector<std::string> &args,
                                        const std::function<bool(const std::vector<std::string> &)> &enough,
                                        unsigned delayMicroseconds);
