// Feeds arbitrary bytes, as a stored pre-check file and a newly downloaded one, to the
// pre-check comparison. The first two bytes say where the stored copy ends and the third how
// often both are repeated (so that the texts cross the comparison's read chunks). Besides
// surviving every input: the answer is "same" exactly when both files have the same length
// and the same text up to their first zero byte, and the state it leaves is 0.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/pre_check.h"
#include "fuzz/fuzz_image.h"
#include "tests/support/fake_run_context.h"

namespace {

constexpr char kOld[] = "C:\\fuzz-check.txt.old";
constexpr char kNew[] = "C:\\fuzz-check.txt";

std::string Repeat(std::string_view text, unsigned times) {
  std::string out;
  out.reserve(text.size() * times);
  for (unsigned i = 0; i < times; ++i) out += text;
  return out;
}

std::string_view Text(std::string_view bytes) { return bytes.substr(0, bytes.find('\0')); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  pelisto::fuzz::UseFuzzImage();
  const std::string_view rest(reinterpret_cast<const char*>(data) + 3, size - 3);
  const std::size_t split = (data[0] | (data[1] << 8)) % (rest.size() + 1);
  const unsigned times = 1 + data[2] % 16;
  const std::string old_bytes = Repeat(rest.substr(0, split), times);
  const std::string new_bytes = Repeat(rest.substr(split), times);
  pelisto::fuzz::PutImageFile(kOld, old_bytes);
  pelisto::fuzz::PutImageFile(kNew, new_bytes);

  static pelisto::testing::FakeRunContext* context = new pelisto::testing::FakeRunContext;
  context->log.clear();
  context->state.pre_check_state = 7;
  const os::BOOL same = pelisto::ComparePreCheckFile(*context, kOld, kNew, "TEXTFILE");
  const bool expected = old_bytes.size() == new_bytes.size() && Text(old_bytes) == Text(new_bytes);
  FUZZ_REQUIRE((same == os::TRUE) == expected);
  FUZZ_REQUIRE(context->state.pre_check_state == 0);
  // Either way round: the comparison is symmetric.
  FUZZ_REQUIRE(pelisto::ComparePreCheckFile(*context, kNew, kOld, "textfile") == same);
  return 0;
}
