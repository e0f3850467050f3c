// IPersistFile: an object that saves itself to a file (the shell's link objects).
#pragma once

#include <string>

#include "os/base/types.h"
#include "os/com/guid.h"
#include "os/com/unknown.h"

namespace os {

class IPersistFile : public IUnknown {
 public:
  // {0000010B-0000-0000-C000-000000000046}
  static constexpr IID kIid{0x0000010B, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

  // Writes the object to `file` (a Windows-form path; null: the file it was last saved to,
  // E_INVALIDARG when there is none). With `remember` the file becomes the object's current
  // file. A file that exists is replaced whole. Failures: the write's Windows error as an
  // HRESULT, or the object's own reason (see each object).
  virtual HRESULT Save(const char16_t* file, BOOL remember) = 0;

 protected:
  ~IPersistFile() = default;
};

inline const IID& IID_IPersistFile = IPersistFile::kIid;

}  // namespace os
