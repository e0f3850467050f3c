// Whose machine image this process may use.
//
// image.conf names programs that are run (the broker, the elevation command), so the file is
// trusted like code: an image.conf, or a prefix folder, that anyone but a trusted user can
// write is refused, as sudo refuses a sudoers file that others can write. Trusted are this
// process's own user, root, and the users added here (the elevated broker adds the user of
// the control it serves, whose image it works on).
#pragma once

#include <cstdint>
#include <string>

namespace os {

// Also trusts images owned by `user` (a host user id) from now on in this process.
void TrustImageOwner(std::uint32_t user);

// Checks the prefix folder and reads its image.conf (never through a link). On success
// returns true with the text in `*text`, or with `*exists` false when there is no image.conf
// yet (the prefix itself passed). Otherwise false with `*error` saying what was refused.
bool ReadTrustedImageConf(const std::string& prefix, std::string* text, bool* exists,
                          std::string* error);

}  // namespace os
