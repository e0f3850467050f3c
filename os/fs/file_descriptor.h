// Host file descriptors for libraries that read and write files through a descriptor of
// their own (zlib's gzdopen), opened on the machine image with the same rules as FileOpen.
#pragma once

#include <string>

namespace os {

// Opens `path` (Windows form) as FileOpen does with `mode` ("rb", "wb", ...) and returns a
// descriptor the caller owns (close-on-exec), or -1 with the last error set. Whoever takes
// the descriptor over closes it; otherwise CloseFileDescriptor does.
int OpenFileDescriptor(const std::string& path, const char* mode);
void CloseFileDescriptor(int descriptor);

}  // namespace os
