// CUnzipper: the zip archive reader that both extraction front ends (the silent NoUIUnZip,
// the dialog CPlUnzipDlg) and the download dialog's archive step use. It opens an archive in
// the image, walks its members, and writes each member below an output folder: folders made,
// the member's time restored, ".ocx"/".dll" members registered.
//
// Privileged steps go through the run context's PrivilegedOps. Before Windows 6 a member is
// written to a temporary file beside its target and renamed into place once its data is
// complete and its CRC checked; from Windows 6 on (Privileged().Brokered()) it is written to a
// "tmp" file in the per-user writable folder of the Internet cache, then copied to its target
// and the temporary file deleted by the broker (boxes "파일을 옮기지 못했습니다." and
// "파일을 삭제하지 못했습니다." on failure; a copy that failed fails the member, a delete
// does not). Either way a target
// is replaced only by a member whose data was read whole and matched its CRC.
//
// Member names come from outside. A member whose name is absolute, holds a drive, a ".."
// component, is longer than 260 characters, whose path would lie anywhere but below the
// output folder, or which would be reached through a link found there, is never written: it
// is skipped with one level-1 log line (" Unsafe name in zip file, member skipped - " + name +
// " (" + reason + ")") and does not fail the archive. A member stored as a symbolic link is
// written as a plain file holding the link's text.
//
// A target that cannot be opened (in use, read-only, a name Windows refuses) brings up the
// file-in-use dialog with Skip: Retry tries again, any other answer skips the member
// without failing the archive.
//
// Threads: one thread at a time per object; it may be a worker thread (the download dialog),
// since the privileged steps and the dialogs may be used from any thread.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "archive/zip_archive.h"
#include "control/run_context.h"

namespace pelisto {

class OutputFile;

// The current member's record.
struct UnzipFileInfo {
  std::string name;     // stored path, at most 260 characters, every "/" turned into "\"
  std::string comment;  // at most 255 characters
  std::uint32_t version = 0;  // version made by
  std::uint32_t version_needed = 0;
  std::uint32_t flags = 0;
  std::uint32_t compression_method = 0;
  std::uint32_t dos_date = 0;  // date in the high 16 bits, time in the low 16 bits
  std::uint32_t crc = 0;
  std::uint32_t compressed_size = 0;    // low 32 bits of the 64-bit size
  std::uint32_t uncompressed_size = 0;  // low 32 bits of the 64-bit size
  std::uint32_t internal_attributes = 0;
  std::uint32_t external_attributes = 0;
  bool directory = false;  // external attribute bit 0x10, or a stored name ending in "/"
};

class CUnzipper {
 public:
  // Texts longer than this are refused for the output folder.
  static constexpr std::size_t kMaxPath = 260;

  // `context` gives the privileged steps and the log; it must outlive the object.
  explicit CUnzipper(RunContext& context);
  virtual ~CUnzipper();
  CUnzipper(const CUnzipper&) = delete;
  CUnzipper& operator=(const CUnzipper&) = delete;

  // Closes any open archive, then opens `path` (an absolute Windows-form path of at most 260
  // characters, normalised first). On success the output folder becomes the archive's drive
  // and folder with a trailing "\" ("C:\Temp\a.zip" gives "C:\Temp\"). False for an empty or
  // relative path and for a file that is not a readable zip archive.
  bool OpenZip(const std::string& path);
  // Closes the current member and the archive and empties the output folder; true when the
  // archive's close succeeded.
  bool CloseZip();
  bool IsOpen() const { return archive_.IsOpen(); }

  // Entries of the central directory; 0 without an archive.
  int GetFileCount() const;
  // Moves to the first member or, with `extension` (without the dot, compared without
  // case), to the first member whose name ends in "." + extension. False when there is none.
  bool GotoFirstFile(const std::string& extension = "");
  // The next member (matching `extension` when given); false at the end.
  bool GotoNextFile(const std::string& extension = "");
  // The member at `index` (from 0); false for an index below 0 or not below the count.
  bool GotoFile(int index);
  // Fills `info` for the current member; false without one.
  bool GetFileInfo(UnzipFileInfo* info) const;

  // Extracts the current member below `folder` (empty: the output folder); with
  // `ignore_path` only its file name is kept. True when the member was written, was a
  // folder that exists afterwards, was skipped (unsafe name, or the user's answer to the
  // file-in-use dialog), or its broker copy failed (reported by its box). False without an
  // archive, when the folder cannot be made, or when the member's data cannot be read whole
  // (unknown method, read error, CRC mismatch): the target then keeps what it held.
  // Throws os::ComError when the broker's folder creation fails (Windows 6).
  bool UnzipFile(const std::string& folder = "", bool ignore_path = false);
  // Makes `folder`, then UnzipFile for every member from the first; stops at the first
  // failure. False also for an archive without members.
  bool Unzip(const std::string& folder, bool ignore_path = false);

  // Makes `path` and its missing parents. True when it exists as a folder afterwards or
  // when the creation was asked for (the direct creation's outcome is not checked: a member
  // whose folder is missing fails at its own creation). False for an empty path and for a
  // path that names a file. From Windows 6 on the broker makes each folder; a failure there
  // throws os::ComError.
  bool CreateFolder(const std::string& path);
  // CreateFolder for everything before the last "\" of `file_path`.
  bool CreateFilePath(const std::string& file_path);
  // Sets the file's last-write time (and, where the image keeps one, its creation time) to
  // the DOS date and time, read as local time; the last-access time is kept. False when the
  // file cannot be opened for writing or the time is not a valid DOS time.
  bool SetFileModTime(const std::string& file_path, std::uint32_t dos_date_time);

  // The output folder (empty without an archive). SetOutputFolder refuses (false) a text
  // longer than 260 characters.
  const std::string& OutputFolder() const { return output_folder_; }
  bool SetOutputFolder(const std::string& folder);

 private:
  struct Target;

  bool FindMatching(const std::string& extension);
  bool NameIsSafe(const UnzipFileInfo& info, std::size_t stored_name_size,
                  const std::string& base, Target& target);
  bool ReachesThroughALink(const std::string& base, Target* target);
  bool ReachesThroughALink(const std::string& base, const std::string& path, os::DWORD* last);
  bool OpenOutput(Target& target, bool brokered, OutputFile* out);
  bool OpenWorkFile(OutputFile* out);
  bool OpenBesideTarget(const Target& target, OutputFile* out);
  bool CopyData(std::uint32_t dos_date, OutputFile* out);
  bool WriteMember(const UnzipFileInfo& info, Target& target);
  void RegisterMember(const UnzipFileInfo& info, const std::string& joined);
  void DiscardTempFile();

  RunContext& context_;
  ZipArchive archive_;
  std::string output_folder_;
  std::string writable_folder_;  // Windows 6: the per-user writable folder last obtained
  std::string temp_file_;        // the temporary file of the member being written
  unsigned next_temp_number_;    // Windows 5: the next name tried beside a target
  // Folders of this archive's members found (or made) to be folders and no link, by their
  // normalised text in lower case: each is looked at once, not once per member.
  std::set<std::string> known_folders_;
};

}  // namespace pelisto
