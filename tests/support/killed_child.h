// A helper program run until it has reported enough, then killed with
// SIGKILL (POSIX builds only): for the tests of what survives a crash.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Runs program until enough(its output lines) holds, it ends or 20 s pass,
// then kills it after delayMicroseconds; returns every whole line it wrote.
std::vector<std::string> RunUntilKilled(const std::string &program, const std::vector<std::string> &args,
                                        const std::function<bool(const std::vector<std::string> &)> &enough,
                                        unsigned delayMicroseconds);
