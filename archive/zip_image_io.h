// minizip's file functions over the machine image: the archive's name is a Windows-form path
// opened for reading through the file layer (os::FileOpen), so an archive is read only from
// inside the image, with the image's rules.
#pragma once

#include <minizip/ioapi.h>

namespace pelisto {

// The same table for every caller; thread-safe (it holds no state).
const zlib_filefunc64_def& ImageZipFunctions();

}  // namespace pelisto
