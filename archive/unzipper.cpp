#include "archive/unzipper.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <random>

#include "actions/registration.h"
#include "archive/member_name.h"
#include "archive/zip_image_io.h"
#include "download/file_in_use_dlg.h"
#include "download/output_file.h"
#include "engine/protected_mode_folders.h"
#include "os/base/error.h"
#include "os/base/text.h"
#include "os/com/com_error.h"
#include "os/com/hresult.h"
#include "os/fs/file_api.h"
#include "os/image/win_path.h"
#include "os/shell/folders.h"
#include "os/ui/message_box.h"

namespace pelisto {
namespace {

constexpr unsigned kCopyBlock = 2048;
constexpr char kTempPrefix[] = "tmp";
// Names tried for the temporary file beside a target before the member is given up to the
// prompt: a folder that holds this many of them is not ours to fill.
constexpr int kTempNameTries = 16;
constexpr std::uint32_t kDirectoryAttribute = 0x10;
// The viewer control is registered by the install step after the archive, never here.
constexpr char kViewerControl[] = "Brindle.ocx";
constexpr char kBoxCaption[] = "Pelisto";
constexpr os::UINT kRegistrationBoxFlags = os::MB_TOPMOST | os::MB_SETFOREGROUND;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The part after the last "\".
std::string FileNameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A plain OK box, shown whatever selfUi says. `utf8` is the source's text.
void ShowBox(const char* utf8, const char* caption = kBoxCaption, os::UINT flags = os::MB_OK) {
  os::MessageBoxA(nullptr, os::Utf8ToAnsi(utf8), caption, flags);
}

// Asks about a target that cannot be written; true for Retry.
bool AskRetry(const std::string& path) {
  CFileInUseDlg prompt;
  prompt.SetFile(path);
  prompt.SetShowSkip(true);
  return prompt.DoModal() == CFileInUseDlg::kRetry;
}

UnzipFileInfo ToFileInfo(const ZipEntry& entry) {
  UnzipFileInfo info;
  info.name = entry.name;
  info.comment = entry.comment;
  // Names flagged as UTF-8 are turned into the image's code page like any other text.
  if ((entry.flags & ZipArchive::kUtf8Flag) != 0 && os::GetACP() != os::CP_UTF8) {
    info.name = os::Utf8ToAnsi(info.name);
    info.comment = os::Utf8ToAnsi(info.comment);
  }
  std::replace(info.name.begin(), info.name.end(), '/', '\\');
  info.version = entry.version_made_by;
  info.version_needed = entry.version_needed;
  info.flags = entry.flags;
  info.compression_method = entry.compression_method;
  info.dos_date = entry.dos_date;
  info.crc = entry.crc;
  info.compressed_size = static_cast<std::uint32_t>(entry.compressed_size);
  info.uncompressed_size = static_cast<std::uint32_t>(entry.uncompressed_size);
  info.internal_attributes = entry.internal_attributes;
  info.external_attributes = entry.external_attributes;
  // Tools that write no MS-DOS attributes still end a folder's name with a separator.
  info.directory = (entry.external_attributes & kDirectoryAttribute) != 0 ||
                   (!info.name.empty() && info.name.back() == '\\');
  return info;
}

bool HasExtension(const std::string& name, const std::string& extension) {
  const std::string file = FileNameOf(name);
  const std::size_t dot = file.find_last_of('.');
  return dot != std::string::npos && os::EqualsIgnoreCase(file.substr(dot + 1), extension);
}

// The key of a folder in the set of folders known to exist: normalised, letters folded.
std::string FolderKey(const std::string& path) {
  os::WinPath parsed;
  if (os::ParseWinPath(path, &parsed) != os::ERROR_SUCCESS) return {};
  return os::AsciiLower(parsed.ToString());
}

// Dates the open file `h` from a DOS date (high 16 bits) and time (low 16 bits) read as local
// time: creation and last-write time, the last-access time kept.
bool SetDosTime(os::HANDLE h, std::uint32_t dos_date_time) {
  os::FILETIME creation{}, access{}, write{}, local{}, universal{};
  return os::GetFileTime(h, &creation, &access, &write) &&
         os::DosDateTimeToFileTime(static_cast<os::WORD>(dos_date_time >> 16),
                                   static_cast<os::WORD>(dos_date_time & 0xFFFF), &local) &&
         os::LocalFileTimeToFileTime(local, &universal) &&
         os::SetFileTime(h, &universal, &access, &universal);
}

}  // namespace

// Where the current member goes: the joined path (folder, "\" and the stored name) receives
// the broker's copy and is registered; the made path is opened and dated.
struct CUnzipper::Target {
  std::string joined;
  std::string made;
  // The made path's attributes as the link check found them; unknown until then.
  bool made_checked = false;
  os::DWORD made_attributes = os::INVALID_FILE_ATTRIBUTES;
};

CUnzipper::CUnzipper(RunContext& context)
    : context_(context), next_temp_number_(std::random_device{}()) {}

CUnzipper::~CUnzipper() {
  CloseZip();
  DiscardTempFile();
}

bool CUnzipper::OpenZip(const std::string& path) {
  CloseZip();
  if (path.empty()) return false;
  os::WinPath absolute;
  if (os::ParseWinPath(path, &absolute) != os::ERROR_SUCCESS || absolute.IsRoot()) return false;
  if (!archive_.Open(absolute.ToString(), ImageZipFunctions())) return false;
  output_folder_ = os::JoinWinPath(absolute.Parent().ToString(), "");
  return true;
}

bool CUnzipper::CloseZip() {
  const bool closed = archive_.Close();
  output_folder_.clear();
  known_folders_.clear();
  return closed;
}

int CUnzipper::GetFileCount() const {
  return static_cast<int>(std::min<std::uint64_t>(archive_.EntryCount(), INT_MAX));
}

bool CUnzipper::FindMatching(const std::string& extension) {
  std::string wanted = extension;
  if (!wanted.empty() && wanted.front() == '.') wanted.erase(0, 1);
  for (;;) {
    ZipEntry entry;
    if (!archive_.Info(&entry)) return false;
    if (HasExtension(ToFileInfo(entry).name, wanted)) return true;
    if (!archive_.Next()) return false;
  }
}

bool CUnzipper::GotoFirstFile(const std::string& extension) {
  if (!archive_.First()) return false;
  return extension.empty() || FindMatching(extension);
}

bool CUnzipper::GotoNextFile(const std::string& extension) {
  if (!archive_.Next()) return false;
  return extension.empty() || FindMatching(extension);
}

bool CUnzipper::GotoFile(int index) {
  if (index < 0 || index >= GetFileCount()) return false;
  if (!archive_.First()) return false;
  for (int i = 0; i < index; ++i) {
    if (!archive_.Next()) return false;
  }
  return true;
}

bool CUnzipper::GetFileInfo(UnzipFileInfo* info) const {
  ZipEntry entry;
  if (info == nullptr || !archive_.Info(&entry)) return false;
  *info = ToFileInfo(entry);
  return true;
}

bool CUnzipper::SetOutputFolder(const std::string& folder) {
  if (folder.size() > kMaxPath) return false;
  output_folder_ = folder;
  return true;
}

bool CUnzipper::Unzip(const std::string& folder, bool ignore_path) {
  if (!IsOpen() || !CreateFolder(folder)) return false;
  if (!GotoFirstFile()) return false;
  do {
    if (!UnzipFile(folder, ignore_path)) return false;
  } while (GotoNextFile());
  return true;
}

bool CUnzipper::UnzipFile(const std::string& folder, bool ignore_path) {
  if (!IsOpen()) return false;
  const std::string base = folder.empty() ? output_folder_ : folder;
  if (!CreateFolder(base)) return false;
  ZipEntry entry;
  if (!archive_.Info(&entry)) return false;
  const UnzipFileInfo info = ToFileInfo(entry);

  Target target;
  target.joined = base + "\\" + info.name;
  target.made = os::JoinWinPath(base, ignore_path ? FileNameOf(info.name) : info.name);
  if (!NameIsSafe(info, entry.stored_name_size, base, target)) return true;

  if (info.directory) return CreateFolder(target.joined);
  if (!CreateFilePath(target.made)) return false;
  return WriteMember(info, target);
}

bool CUnzipper::ReachesThroughALink(const std::string& base, Target* target) {
  target->made_checked = true;
  return ReachesThroughALink(base, target->made, &target->made_attributes);
}

// True when an existing part of `path` below `base` is a link (planted there: members never
// make one): whatever it leads to, the member would not land below the folder. Folders found
// to be no link are remembered for the members after. `*last` receives the attributes of
// `path` itself (INVALID_FILE_ATTRIBUTES when it or a folder on the way is missing).
bool CUnzipper::ReachesThroughALink(const std::string& base, const std::string& path, os::DWORD* last) {
  if (last != nullptr) *last = os::INVALID_FILE_ATTRIBUTES;
  os::WinPath target, folder;
  if (os::ParseWinPath(path, &target) != os::ERROR_SUCCESS ||
      os::ParseWinPath(base, &folder) != os::ERROR_SUCCESS) {
    return false;  // never made: the file layer refuses the same text
  }
  os::WinPath part = folder;
  for (std::size_t i = folder.parts.size(); i < target.parts.size(); ++i) {
    part.parts.push_back(target.parts[i]);
    const std::string text = part.ToString();
    const bool is_last = i + 1 == target.parts.size();
    if (!is_last && known_folders_.count(os::AsciiLower(text)) != 0) continue;
    const os::DWORD attributes = os::GetFileAttributesA(text);
    if (attributes == os::INVALID_FILE_ATTRIBUTES) return false;  // the rest is yet to be made
    if ((attributes & os::FILE_ATTRIBUTE_REPARSE_POINT) != 0) return true;
    if (is_last && last != nullptr) *last = attributes;
    if ((attributes & os::FILE_ATTRIBUTE_DIRECTORY) != 0) known_folders_.insert(os::AsciiLower(text));
  }
  return false;
}

bool CUnzipper::NameIsSafe(const UnzipFileInfo& info, std::size_t stored_name_size,
                           const std::string& base, Target& target) {
  MemberNameProblem problem = stored_name_size > kMaxMemberName ? MemberNameProblem::kTooLong
                                                                : CheckMemberName(info.name);
  const char* reason = DescribeMemberNameProblem(problem);
  if (problem == MemberNameProblem::kNone &&
      (LeavesFolder(target.joined, base, info.directory) ||
       LeavesFolder(target.made, base, info.directory))) {
    reason = "outside the folder";
  } else if (problem == MemberNameProblem::kNone &&
             (ReachesThroughALink(base, &target) ||
              (FolderKey(target.joined) != FolderKey(target.made) &&
               ReachesThroughALink(base, target.joined, nullptr)))) {
    reason = "reaches through a link";
  } else if (problem == MemberNameProblem::kNone) {
    return true;
  }
  context_.WriteLog(context_.GetLogTime() + " Unsafe name in zip file, member skipped - " +
                        info.name + " (" + reason + ")",
                    1);
  return false;
}

bool CUnzipper::OpenOutput(Target& target, bool brokered, OutputFile* out) {
  for (;;) {
    if (brokered ? OpenWorkFile(out) : OpenBesideTarget(target, out)) return true;
    target.made_checked = false;  // the user may have changed it meanwhile
    if (!AskRetry(target.made)) return false;
  }
}

bool CUnzipper::OpenWorkFile(OutputFile* out) {
  std::string folder;
  if (os::FAILED(LookupWriteableFolderPath(os::FOLDERID_InternetCache, &folder))) return false;
  writable_folder_ = folder;
  if (os::GetTempFileNameA(writable_folder_, kTempPrefix, 0, &temp_file_) == 0) {
    temp_file_.clear();
    return false;
  }
  if (out->Open(temp_file_)) return true;
  DiscardTempFile();
  return false;
}

bool CUnzipper::OpenBesideTarget(const Target& target, OutputFile* out) {
  const std::string& made = target.made;
  // A target that is in use or read-only must not be replaced behind its user's back: it is
  // opened as the member's own open would, and the prompt decides when that fails.
  const os::DWORD attributes = target.made_checked ? target.made_attributes : os::GetFileAttributesA(made);
  if (attributes != os::INVALID_FILE_ATTRIBUTES) {
    os::HANDLE h = os::CreateFileA(made, os::GENERIC_WRITE, 0, nullptr, os::OPEN_EXISTING,
                                   os::FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == os::INVALID_HANDLE_VALUE) return false;
    os::CloseHandle(h);
  }
  // Named as the system's temporary files are, but made in one call: CREATE_NEW never takes
  // over a file that is there, whoever made it.
  const std::size_t slash = made.find_last_of('\\');
  if (slash == std::string::npos) return false;
  for (int i = 0; i < kTempNameTries; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "%s%X.tmp", kTempPrefix, next_temp_number_++ % 0xFFFF + 1);
    const std::string candidate = made.substr(0, slash + 1) + name;
    if (out->Open(candidate, os::CREATE_NEW)) {
      temp_file_ = candidate;
      return true;
    }
    if (os::GetLastError() != os::ERROR_FILE_EXISTS) break;
  }
  return false;
}

bool CUnzipper::CopyData(std::uint32_t dos_date, OutputFile* out) {
  if (!archive_.OpenData()) {
    out->Close();
    return false;
  }
  char block[kCopyBlock];
  bool copied = true;
  for (;;) {
    const int n = archive_.Read(block, kCopyBlock);
    if (n == 0) break;
    if (n < 0 || !out->Write(block, static_cast<std::size_t>(n))) {
      copied = false;
      break;
    }
  }
  const bool whole = archive_.CloseData() == ZipArchive::ReadEnd::kComplete;
  // Dated through the handle that wrote it, before it is placed: the copy keeps the time, and
  // a protected target folder would refuse the control's own write of it afterwards. A date
  // that cannot be set leaves the time of writing, as a name the file layer cannot date would.
  if (copied && whole) {
    const os::HANDLE h = out->FlushedHandle();
    if (h != os::INVALID_HANDLE_VALUE) SetDosTime(h, dos_date);
  }
  const bool closed = out->Close();
  return copied && closed && whole;
}

bool CUnzipper::WriteMember(const UnzipFileInfo& info, Target& target) {
  PrivilegedOps& privileged = context_.Privileged();
  const bool brokered = privileged.Brokered();
  OutputFile out;
  if (!OpenOutput(target, brokered, &out)) return true;  // skipped by the user
  if (!CopyData(info.dos_date, &out)) {
    DiscardTempFile();
    return false;
  }

  if (brokered) {
    // One broker call per member: the work file is moved into place, and only a work file
    // that did not move is left to delete.
    if (privileged.MoveFileReplacing(temp_file_, target.joined) != 1) {
      ShowBox("파일을 옮기지 못했습니다.");
      if (privileged.DeleteFile(temp_file_) != 1) ShowBox("파일을 삭제하지 못했습니다.");
      temp_file_.clear();
      // A member left unplaced fails the archive, so the run that installs it is not
      // recorded as done and the next run installs it again.
      return false;
    }
    temp_file_.clear();
  } else {
    while (privileged.MoveFileReplacing(temp_file_, target.made) != 1) {
      if (!AskRetry(target.made)) {
        DiscardTempFile();
        return true;
      }
    }
    temp_file_.clear();
  }
  RegisterMember(info, target.joined);
  return true;
}

void CUnzipper::RegisterMember(const UnzipFileInfo& info, const std::string& joined) {
  if (os::EqualsIgnoreCase(FileNameOf(info.name), kViewerControl)) return;
  if (RegisterIfComponent(context_, joined) == 0) {
    ShowBox("압축을 푸는 동안 ocx파일을 등록하지 못했습니다.", "Error", kRegistrationBoxFlags);
  }
}

// The temporary file is always in a folder this process may write, whatever the version.
void CUnzipper::DiscardTempFile() {
  if (temp_file_.empty()) return;
  os::DeleteFileA(temp_file_);
  temp_file_.clear();
}

bool CUnzipper::CreateFolder(const std::string& path) {
  std::string folder = path;
  while (!folder.empty() && IsSeparator(folder.back())) folder.pop_back();
  if (folder.empty()) return false;
  const std::string key = FolderKey(folder);
  if (!key.empty() && known_folders_.count(key) != 0) return true;
  const os::DWORD attributes = os::GetFileAttributesA(folder);
  if (attributes != os::INVALID_FILE_ATTRIBUTES) {
    const bool is_folder = (attributes & os::FILE_ATTRIBUTE_DIRECTORY) != 0;
    // A link is looked at again each time: the member check refuses to go through it.
    if (is_folder && (attributes & os::FILE_ATTRIBUTE_REPARSE_POINT) == 0 && !key.empty()) {
      known_folders_.insert(key);
    }
    return is_folder;
  }
  const std::size_t slash = folder.find_last_of('\\');
  if (slash == std::string::npos) return true;
  if (!CreateFolder(folder.substr(0, slash))) return false;
  PrivilegedOps& privileged = context_.Privileged();
  if (privileged.Brokered()) {
    const os::HRESULT hr = privileged.CreateDirectoryResult(folder);
    // "Already exists" only when something made it since the test above.
    if (os::FAILED(hr) && hr != os::HRESULT_FROM_WIN32(os::ERROR_ALREADY_EXISTS)) {
      throw os::ComError(hr, "IFileManager");
    }
  } else if (privileged.CreateDirectory(folder) != 1) {
    return true;  // not checked: the member's own creation fails and is reported
  }
  if (!key.empty()) known_folders_.insert(key);
  return true;
}

bool CUnzipper::CreateFilePath(const std::string& file_path) {
  const std::size_t slash = file_path.find_last_of('\\');
  if (slash == std::string::npos) return true;
  return CreateFolder(file_path.substr(0, slash));
}

bool CUnzipper::SetFileModTime(const std::string& file_path, std::uint32_t dos_date_time) {
  os::HANDLE h = os::CreateFileA(file_path, os::GENERIC_READ | os::GENERIC_WRITE, 0, nullptr,
                                 os::OPEN_EXISTING, os::FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == os::INVALID_HANDLE_VALUE) return false;
  const bool ok = SetDosTime(h, dos_date_time);
  os::CloseHandle(h);
  return ok;
}

}  // namespace pelisto
