// For the Linux backend only: a channel over host descriptors.
#pragma once

#include <memory>

#include "os/process/channel.h"

namespace os {

// Takes over `read_fd` and `write_fd` (the same descriptor for a socket); both are closed with
// the channel.
std::unique_ptr<Channel> MakeFdChannel(int read_fd, int write_fd);

}  // namespace os
