#include "os/fs/file_descriptor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "os/base/error.h"
#include "os/fs/file_api.h"

namespace os {

int OpenFileDescriptor(const std::string& path, const char* mode) {
  // FileOpen resolves the path inside the image and applies the integrity rule; the stream
  // is only the way there.
  std::FILE* stream = FileOpen(path, mode);
  if (stream == nullptr) return -1;
  const int descriptor = ::fcntl(::fileno(stream), F_DUPFD_CLOEXEC, 0);
  const int error = errno;
  std::fclose(stream);
  if (descriptor < 0) SetLastErrorFromErrno(error);
  return descriptor;
}

void CloseFileDescriptor(int descriptor) {
  if (descriptor >= 0) ::close(descriptor);
}

}  // namespace os
