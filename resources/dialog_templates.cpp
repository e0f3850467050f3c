// The dialog templates. Captions are the same in both languages: the single-run guard finds
// the status dialog by its caption whatever the language.
#include <vector>

#include "os/base/text.h"
#include "os/sysinfo/version.h"
#include "resources/resource_ids.h"
#include "resources/resources.h"

namespace pelisto {
namespace {

using os::ControlKind;
using os::ControlTemplate;
using os::DialogTemplate;
using os::IDC_STATIC;

constexpr char kEnglishFont[] = "MS Sans Serif";
constexpr char kKoreanFont[] = "굴림";

ControlTemplate Static(int id, const char* text, int x, int y, int cx, int cy, os::DWORD style = 0) {
  return ControlTemplate{id, ControlKind::kStatic, text, x, y, cx, cy, true, true, style};
}
ControlTemplate Progress(int id, int x, int y, int cx, int cy) {
  return ControlTemplate{id, ControlKind::kProgress, "", x, y, cx, cy};
}
ControlTemplate Button(int id, const char* text, int x, int y, int cx, int cy, bool visible = true) {
  return ControlTemplate{id, ControlKind::kButton, text, x, y, cx, cy, visible};
}

DialogTemplate Download(bool korean) {
  DialogTemplate t;
  t.title = "File Download";
  t.cx = 274;
  t.cy = 123;
  t.font = korean ? kKoreanFont : kEnglishFont;
  t.font_size = 9;
  t.controls = {
      {res::kDownloadAnimationControl, ControlKind::kAnimation, "", 45, 4, 192, 32, true, true, os::ACS_TRANSPARENT},
      Static(res::kDownloadStatusLine, "", 4, 47, 262, 8),
      Static(res::kDownloadSecondLine, "", 4, 60, 262, 8),
      Progress(res::kDownloadProgress, 5, 74, 261, 10),
      Static(IDC_STATIC, korean ? "남은 시간:" : "remain time:", 6, 91, 54, 8),
      Static(res::kDownloadTimeLeft, "", 124, 91, 142, 8),
      Static(IDC_STATIC, korean ? "전송 속도:" : "transfer rate:", 5, 104, 58, 8),
      Static(res::kDownloadRate, "", 125, 104, 141, 8),
      Button(os::IDCANCEL, "Button1", 224, 1, 50, 14, false),
  };
  return t;
}

DialogTemplate Unzip(bool korean) {
  DialogTemplate t;
  t.title = "Pelisto Unzipper";
  t.cx = 247;
  t.cy = 37;
  t.font = korean ? kKoreanFont : kEnglishFont;
  t.font_size = 10;
  t.visible = true;
  t.controls = {Progress(res::kUnzipProgress, 7, 7, 233, 9)};
  return t;
}

DialogTemplate FileInUse(bool korean) {
  DialogTemplate t;
  t.title = "Install Failed!";
  t.cx = 187;
  t.cy = 119;
  t.font = korean ? kKoreanFont : kEnglishFont;
  t.font_size = 10;
  t.controls = {
      Static(IDC_STATIC, korean ? "파일이 사용 중 입니다." : "The following file is in use.", 7, 7, 173, 12),
      Static(IDC_STATIC,
             korean ? "익스플로러를 모두 종료 후 재시도 버튼을 누르십시오."
                    : "Close all Internet Explorer and click Retry button.",
             7, 20, 173, 13),
      {res::kFileInUseFile, ControlKind::kEdit, "", 7, 35, 173, 57},
      Button(res::kFileInUseSkip, korean ? "생략(&k)" : "S&kip", 46, 98, 44, 14),
      {os::IDOK, ControlKind::kDefaultButton, korean ? "재시도(&r)" : "&Retry", 91, 98, 44, 14},
      Button(os::IDCANCEL, korean ? "중지(&s)" : "&Stop Install", 136, 98, 44, 14),
  };
  return t;
}

DialogTemplate UnGzip(bool korean) {
  DialogTemplate t;
  t.title = "Pelisto UnGZip; ";
  t.cx = 246;
  t.cy = 28;
  t.font = korean ? kKoreanFont : kEnglishFont;
  t.font_size = 10;
  t.controls = {
      Progress(res::kUnGzipProgress, 7, 6, 233, 8),
      Static(IDC_STATIC, korean ? "압축 해제 중 -" : "UnZipping -", 7, 13, 42, 8),
      Static(res::kUnGzipSource, "", 50, 13, 189, 8, os::SS_PATHELLIPSIS),
  };
  return t;
}

DialogTemplate Status(bool korean) {
  DialogTemplate t;
  t.title = "File Download";
  t.class_name = res::kStatusDialogClass;
  t.cx = 255;
  t.cy = 109;
  t.font = korean ? kKoreanFont : kEnglishFont;
  t.font_size = 9;
  t.controls = {
      Static(IDC_STATIC, korean ? "상태:" : "Status:", 8, 9, 23, 8),
      Static(res::kStatusStatusLine, "", 56, 9, 127, 8),
      Static(IDC_STATIC, korean ? "작업 항목:" : "Work Item;", 8, 25, 35, 8),
      Static(res::kStatusWorkItem, "", 56, 25, 141, 8),
      Progress(res::kStatusRunBar, 7, 39, 241, 9),
      Static(IDC_STATIC, korean ? "받는 파일:" : "Down File:", 8, 57, 35, 8),
      Static(res::kStatusFileName, "", 56, 57, 184, 8, os::SS_PATHELLIPSIS),
      Progress(res::kStatusFileBar, 7, 72, 241, 9),
      Button(os::IDCANCEL, korean ? "취소" : "Cancel", 102, 89, 50, 14),
  };
  return t;
}

}  // namespace

bool LoadDialogTemplate(int id, os::DialogTemplate* out, os::LANGID language) {
  if (language == 0) language = os::GetThreadUILanguage();
  bool korean = language == os::kLangKorean;
  DialogTemplate t;
  switch (id) {
    case res::kDownloadDialog: t = Download(korean); break;
    case res::kUnzipDialog: t = Unzip(korean); break;
    case res::kFileInUseDialog: t = FileInUse(korean); break;
    case res::kUnGzipDialog: t = UnGzip(korean); break;
    case res::kStatusDialog: t = Status(korean); break;
    default: return false;
  }
  t.title = os::Utf8ToAnsi(t.title);
  t.font = os::Utf8ToAnsi(t.font);
  for (ControlTemplate& c : t.controls) c.text = os::Utf8ToAnsi(c.text);
  *out = std::move(t);
  return true;
}

}  // namespace pelisto
