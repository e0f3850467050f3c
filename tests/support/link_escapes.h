// Links planted in a drive that lead out of it, for the tests of every call that takes a path.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace pelisto::testing {

// A way out of the drive, arranged by `plant` (host paths: the drive's folder and a folder
// outside the image that holds "secret"). `fresh` names a new file through the link,
// `existing` the outside secret.
struct Escape {
  const char* name;
  void (*plant)(const std::string& drive, const std::string& outside);
  const char* fresh;
  const char* existing;
};

inline void PrintTo(const Escape& e, std::ostream* out) { *out << e.name; }

// A dangling link, a chain of links ending outside, a relative link climbing out, a folder
// link, and a link whose target's real path is longer than the host's path limit.
extern const std::vector<Escape> kEscapes;

// Every regular file below `folder`, as "name=content", for proving nothing changed there.
std::vector<std::string> FilesBelow(const std::string& folder);

}  // namespace pelisto::testing
