// The sample site's program: leaves "<its own name>.ran" in its folder (the folder it is
// started in), so that the demo can tell that the update started it.
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  if (argc < 1 || argv[0] == nullptr) return 1;
  // Started with its Windows-form path as its first word.
  std::string name = argv[0];
  const std::size_t separator = name.find_last_of("\\/");
  if (separator != std::string::npos) name.erase(0, separator + 1);
  std::ofstream mark(name + ".ran");
  mark << "started by the update\n";
  return mark ? 0 : 1;
}
