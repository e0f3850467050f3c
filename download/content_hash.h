// The content hash of an entry: an optional `sha256` attribute of a `content` element (64
// hexadecimal digits, either case) that the downloaded file must match before it is placed at
// its target or unpacked. Read from the element beside the fifteen fields of ContentEntry
// (engine/content_entry.h: ReadContentHash).
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace pelisto {

// True for exactly 64 hexadecimal digits, in either case.
bool IsSha256Text(std::string_view text);

// The SHA-256 of the file at the Windows-form `path`, as 64 lower-case hexadecimal digits.
// False (and `*digest` untouched) when the file cannot be opened or read. Reads the file in
// blocks, in constant memory.
bool FileSha256(const std::string& path, std::string* digest);

// The digest a download must have, checked by the download step on its work file before the
// file is placed or unpacked, so that content the publisher did not name never reaches the
// target and the version there stays. Made by the caller of the step and read after it; the
// dialog's worker thread checks while the caller waits for the dialog.
class ContentCheck {
 public:
  // `sha256`: 64 hexadecimal digits, or empty for any content.
  explicit ContentCheck(std::string sha256) : sha256_(std::move(sha256)) {}

  // True when no digest is expected or the file at `path` has it; otherwise false, and the
  // refusal and the digest found (empty when the file could not be read) are kept.
  bool Accepts(const std::string& path);

  const std::string& Expected() const { return sha256_; }
  bool Checked() const { return checked_; }
  bool Refused() const { return refused_; }
  const std::string& Actual() const { return actual_; }

 private:
  std::string sha256_;
  std::string actual_;
  bool checked_ = false;
  bool refused_ = false;
};

}  // namespace pelisto
