#include "archive/member_name.h"

#include "os/base/error.h"
#include "os/image/win_path.h"

namespace pelisto {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// A component of dots and blanks only with two dots or more: ".." itself, and the spellings
// that one normalisation or another may trim to it ("...", ".. ", ". .").
bool Climbs(std::string_view part) {
  int dots = 0;
  for (char c : part) {
    if (c == '.') {
      ++dots;
    } else if (c != ' ') {
      return false;
    }
  }
  return dots >= 2;
}

}  // namespace

MemberNameProblem CheckMemberName(std::string_view name) {
  if (name.empty()) return MemberNameProblem::kEmpty;
  if (name.size() > kMaxMemberName) return MemberNameProblem::kTooLong;
  if (IsSeparator(name.front())) return MemberNameProblem::kAbsolute;
  if (name.find(':') != std::string_view::npos) return MemberNameProblem::kDrive;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    if (Climbs(name.substr(start, end - start))) return MemberNameProblem::kParent;
    start = end + 1;
  }
  return MemberNameProblem::kNone;
}

const char* DescribeMemberNameProblem(MemberNameProblem problem) {
  switch (problem) {
    case MemberNameProblem::kNone: return "safe";
    case MemberNameProblem::kEmpty: return "empty name";
    case MemberNameProblem::kAbsolute: return "absolute path";
    case MemberNameProblem::kDrive: return "names a drive";
    case MemberNameProblem::kParent: return "holds a \"..\" component";
    case MemberNameProblem::kTooLong: return "name too long";
  }
  return "unsafe name";
}

bool LeavesFolder(std::string_view path, std::string_view folder, bool allow_same) {
  os::WinPath base;
  if (os::ParseWinPath(folder, &base) != os::ERROR_SUCCESS) return true;
  os::WinPath target;
  if (os::ParseWinPath(path, &target) != os::ERROR_SUCCESS) return false;
  if (!target.IsWithin(base)) return true;
  return target.parts.size() == base.parts.size() && !allow_same;
}

}  // namespace pelisto
