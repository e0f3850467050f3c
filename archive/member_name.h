// Whether an archive member's stored name may be written below an extraction folder.
//
// An archive comes from outside: its names are checked before anything is made from them,
// whatever the file layer below would make of the path. Both functions are pure (no file
// system access, no machine image) and safe from any thread.
#pragma once

#include <cstddef>
#include <string_view>

namespace pelisto {

enum class MemberNameProblem {
  kNone,
  kEmpty,      // nothing to name a file with
  kAbsolute,   // starts with a separator ("\x", "\\server\share")
  kDrive,      // holds a ":" (a drive "C:x", or a stream "a:b")
  kParent,     // a component that climbs: "..", or dots and blanks that Windows trims to it
  kTooLong,    // longer than a member name may be (kMaxMemberName)
};

// Stored names longer than this are cut by the archive reader; such a member is not written.
inline constexpr std::size_t kMaxMemberName = 260;

// Checks `name` as stored (either separator, "/" or "\"). Names that are merely not valid
// file names ("a?b", "con") pass: creating them fails later, which the caller reports.
MemberNameProblem CheckMemberName(std::string_view name);

// A short English description of `problem` for the log ("holds a \"..\" component").
const char* DescribeMemberNameProblem(MemberNameProblem problem);

// True when the Windows-form `path`, normalised as the file layer normalises it (separators
// collapsed, "." dropped, ".." climbing, trailing dots and blanks of a component dropped,
// letters compared without case), lies anywhere but below `folder` (or, with `allow_same`,
// at `folder` itself: a directory member "./"). A `path` the file layer cannot parse at all
// (a character Windows refuses, too long) is never created by it and gives false: creating it
// fails, which the caller reports. An unparsable `folder` gives true.
bool LeavesFolder(std::string_view path, std::string_view folder, bool allow_same = false);

}  // namespace pelisto
