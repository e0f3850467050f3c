// Running a program of the build (build/bin) from a test and collecting what it printed.
#pragma once

#include <string>
#include <vector>

namespace pelisto::testing {

struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs build/bin/`program` with `args` (each passed as one word, no shell expansion) and
// returns its exit status, standard output and standard error.
ProgramRun RunBuiltProgram(const std::string& program, const std::vector<std::string>& args);

}  // namespace pelisto::testing
