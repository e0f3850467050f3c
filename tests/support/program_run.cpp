#include "tests/support/program_run.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/image_test.h"

namespace pelisto::testing {
namespace {
std::string Quote(const std::string& arg) {
  std::string q = "'";
  for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}
}  // namespace

ProgramRun RunBuiltProgram(const std::string& program, const std::vector<std::string>& args) {
  TempDir io;
  std::string line = Quote(std::string(PELISTO_BIN_DIR) + "/" + program);
  for (const std::string& a : args) line += " " + Quote(a);
  const std::string out = io.path() + "/out", err = io.path() + "/err", rc = io.path() + "/rc";
  line += " >" + Quote(out) + " 2>" + Quote(err) + "; echo $? >" + Quote(rc);
  EXPECT_EQ(std::system(("sh -c " + Quote(line)).c_str()), 0);
  ProgramRun run;
  run.status = std::atoi(ReadHostFile(rc).c_str());
  run.out = ReadHostFile(out);
  run.err = ReadHostFile(err);
  return run;
}

}  // namespace pelisto::testing
