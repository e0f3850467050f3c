// Folder symbols ("{program}", ...) and the page's custom directories, and how the texts of
// a content entry are expanded with them.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "control/run_context.h"
#include "engine/content_entry.h"

namespace pelisto {

struct FolderSymbol {
  const char* symbol;
  std::string FolderValues::*folder;
};

// The built-in symbols in the order they are tested. Matched exactly, with case.
extern const std::array<FolderSymbol, 5> kFolderSymbols;

// Replaces every occurrence of `from` in `*text` by `to`, left to right; inserted text is not
// searched again, and an empty `from` changes nothing.
void ReplaceAll(std::string* text, std::string_view from, std::string_view to);

// The built-in rule: the first symbol of the table that occurs anywhere in `*text` has every
// occurrence replaced by its folder, and the others are left as they stand. Returns that
// symbol, or null when none occurs.
const FolderSymbol* ReplaceFirstFolderSymbol(std::string* text, const FolderValues& folders);

// Every custom directory whose key occurs in `*text` has each occurrence replaced by its
// value. Keys are tried in ascending byte order (a fixed order, independent of the order the
// page added them), so a value inserted by one key can be matched by a later key. Empty keys
// are ignored.
void ReplaceCustomDirs(std::string* text, const CustomDirMap& dirs);

// The one-text rule: the built-in rule, then the custom directories.
void ExpandFolderSymbols(const RunContext& context, std::string* text);

// Expands an entry's locations in place: "/" becomes "\" in `target` only; the built-in rule
// is applied to `target` and to `argument`; then each custom directory is replaced in
// `target` and then in `argument`.
void ExpandEntryLocations(const RunContext& context, ContentEntry* entry);

}  // namespace pelisto
