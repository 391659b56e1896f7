#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace shelvo::test {

struct ProgramResult {
  int exitStatus = -1;  // -1 when killed by a signal or the timeout
  std::string out;
  std::string err;
};

struct ProgramRun {
  std::vector<std::string> arguments;              // argv, program path first
  std::map<std::string, std::string> environment;  // added to (or replacing) the test's own
  std::vector<std::string> unsetEnvironment;
  std::chrono::milliseconds timeout{20000};
};

// Runs a program to its end, collecting standard output and standard error.
ProgramResult runProgram(const ProgramRun& run);
inline ProgramResult runProgram(std::vector<std::string> arguments,
                                std::map<std::string, std::string> environment) {
  ProgramRun run;
  run.arguments = std::move(arguments);
  run.environment = std::move(environment);
  return runProgram(run);
}

// argv prefix that runs a command as the unprivileged user "nobody".
std::vector<std::string> asNobody(std::vector<std::string> arguments);

}  // namespace shelvo::test
