#include "archive/target_folder.h"

namespace pelisto {

std::string ApplyTargetFolderRule(const std::string& output_folder,
                                  const std::string& target_folder) {
  std::string folder = output_folder;
  // An empty target would match every folder and leave no folder at all.
  if (!target_folder.empty() && folder.find(target_folder) != std::string::npos) {
    folder = target_folder;
  }
  return CutBeforePatch(folder);
}

std::string CutBeforePatch(const std::string& folder) {
  const std::size_t patch = folder.find("patch");
  return patch == std::string::npos ? folder : folder.substr(0, patch);
}

}  // namespace pelisto
