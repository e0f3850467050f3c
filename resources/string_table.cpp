#include <map>

#include "os/base/text.h"
#include "os/sysinfo/version.h"
#include "resources/resources.h"

namespace pelisto {
namespace {

struct Entry {
  const char* english;
  const char* korean;
};

const std::map<unsigned, Entry>& Table() {
  static const std::map<unsigned, Entry> table = {
      {102, {"%1 from %2", "%2에서 %1"}},
      {103, {"Connected to %1", "%1에 연결됨"}},
      {104, {"Resolving name: %1", "이름 확인 중: %1"}},
      {105, {"Resolved name to %1", "이름 확인 완료: %1"}},
      {106, {"Connecting to %1", "%1에 연결하는 중"}},
      {107, {"Redirecting to %1", "%1(으)로 이동하는 중"}},
      {108, {"Getting file information", "파일 정보를 가져오는 중"}},
      {109, {"An error occurred parsing the url: %s", "URL을 해석하는 중 오류가 발생했습니다: %s"}},
      {110, {"An error occurred while attempting to download the file, Error:%1",
             "파일을 다운로드하려는 중 오류가 발생했습니다. 오류:%1"}},
      {111, {"An error occurred connecting to the server, Error:%1", "서버에 연결하는 중 오류가 발생했습니다. 오류:%1"}},
      {112, {"Failed to receive a valid response from the server", "서버로부터 올바른 응답을 받지 못했습니다."}},
      {113, {"Failed to receive a valid HTTP response from the server",
             "서버로부터 올바른 HTTP 응답을 받지 못했습니다."}},
      {114, {"An error occurred while downloading the file, Error:%1", "파일을 다운로드하는 중 오류가 발생했습니다. 오류:%1"}},
      {115, {"%1% of %2 Completed", "%2 %1% 완료"}},
      {116, {"Retrieving the file", "파일을 받는 중"}},
      {117, {"%1 of %2", "%1 / %2"}},
      {118, {"%1 sec", "%1초"}},
      {119, {"%1 min", "%1분"}},
      {120, {"%1 min %2 sec", "%1분 %2초"}},
      {121, {"%1 Bytes", "%1바이트"}},
      {123, {"%1 KB", "%1KB"}},
      {125, {"%1 MB", "%1MB"}},
      {127, {"%1 (%2 copied)", "%1 (%2 복사됨)"}},
      {128, {"%1 Bytes/Sec", "%1바이트/초"}},
      {129, {"%1 KB/Sec", "%1KB/초"}},
      {130, {"The file '%1' already exists.\nDo you want to replace it?",
             "'%1' 파일이 이미 있습니다.\n바꾸시겠습니까?"}},
      {131, {"An error occured while opening the file to be downloaded, Error:%1",
             "다운로드할 파일을 여는 중 오류가 발생했습니다. 오류:%1"}},
      {132, {"Aborting transfer", "전송을 중단하는 중"}},
  };
  return table;
}

}  // namespace

bool LoadResourceString(unsigned id, std::string* out, os::LANGID language) {
  auto it = Table().find(id);
  if (it == Table().end()) {
    out->clear();
    return false;
  }
  if (language == 0) language = os::GetThreadUILanguage();
  *out = os::Utf8ToAnsi(language == os::kLangKorean ? it->second.korean : it->second.english);
  return true;
}

std::string FormatPlaceholders(std::string_view text, std::initializer_list<std::string_view> args) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char next = i + 1 < text.size() ? text[i + 1] : '\0';
    size_t index = static_cast<size_t>(next - '1');
    if (text[i] == '%' && next >= '1' && next <= '9' && index < args.size()) {
      out += *(args.begin() + index);
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string FormatResourceString(unsigned id, std::initializer_list<std::string_view> args, os::LANGID language) {
  std::string text;
  LoadResourceString(id, &text, language);
  return FormatPlaceholders(text, args);
}

}  // namespace pelisto
