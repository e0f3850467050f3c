// Where an archive is unpacked: after the archive has been opened (its output folder is the
// archive's own folder), an archive that lies in or below `target_folder` (the system folder)
// is unpacked into `target_folder` itself, and a folder whose text contains "patch" is cut
// just before it ("D:\App\patch\" gives "D:\App\"). Both tests are case-sensitive substring
// searches, as every caller has always done them. An empty `target_folder` changes nothing.
#pragma once

#include <string>

namespace pelisto {

std::string ApplyTargetFolderRule(const std::string& output_folder,
                                  const std::string& target_folder);

// The second half alone (the download dialog's archive step): cut before the first "patch".
std::string CutBeforePatch(const std::string& folder);

}  // namespace pelisto
