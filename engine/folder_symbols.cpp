#include "engine/folder_symbols.h"

#include <algorithm>
#include <vector>

namespace pelisto {
namespace {

// The custom keys in the order they are tried.
std::vector<const CustomDirMap::value_type*> OrderedDirs(const CustomDirMap& dirs) {
  std::vector<const CustomDirMap::value_type*> ordered;
  ordered.reserve(dirs.size());
  for (const auto& entry : dirs) {
    if (!entry.first.empty()) ordered.push_back(&entry);
  }
  std::sort(ordered.begin(), ordered.end(), [](auto* a, auto* b) { return a->first < b->first; });
  return ordered;
}

}  // namespace

const std::array<FolderSymbol, 5> kFolderSymbols = {{
    {"{system}", &FolderValues::system},
    {"{win}", &FolderValues::windows},
    {"{window}", &FolderValues::windows},
    {"{program}", &FolderValues::program_files},
    {"{desktop}", &FolderValues::desktop},
}};

void ReplaceAll(std::string* text, std::string_view from, std::string_view to) {
  if (from.empty()) return;
  std::size_t at = text->find(from);
  if (at == std::string::npos) return;
  std::string out;
  std::size_t done = 0;
  for (; at != std::string::npos; at = text->find(from, done)) {
    out.append(*text, done, at - done);
    out.append(to);
    done = at + from.size();
  }
  out.append(*text, done, std::string::npos);
  *text = std::move(out);
}

const FolderSymbol* ReplaceFirstFolderSymbol(std::string* text, const FolderValues& folders) {
  for (const FolderSymbol& s : kFolderSymbols) {
    if (text->find(s.symbol) != std::string::npos) {
      ReplaceAll(text, s.symbol, folders.*s.folder);
      return &s;
    }
  }
  return nullptr;
}

void ReplaceCustomDirs(std::string* text, const CustomDirMap& dirs) {
  for (const auto* dir : OrderedDirs(dirs)) ReplaceAll(text, dir->first, dir->second);
}

void ExpandFolderSymbols(const RunContext& context, std::string* text) {
  ReplaceFirstFolderSymbol(text, context.Folders());
  ReplaceCustomDirs(text, context.CustomDirs());
}

void ExpandEntryLocations(const RunContext& context, ContentEntry* entry) {
  std::replace(entry->target.begin(), entry->target.end(), '/', '\\');
  ReplaceFirstFolderSymbol(&entry->target, context.Folders());
  ReplaceFirstFolderSymbol(&entry->argument, context.Folders());
  for (const auto* dir : OrderedDirs(context.CustomDirs())) {
    ReplaceAll(&entry->target, dir->first, dir->second);
    ReplaceAll(&entry->argument, dir->first, dir->second);
  }
}

}  // namespace pelisto
