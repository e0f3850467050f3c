#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "control/dispatch_table.h"
#include "control/object_safety.h"
#include "control/control_ids.h"
#include "control/pelisto_ctrl.h"
#include "download/file_in_use_dlg.h"
#include "os/base/text.h"
#include "os/com/com_error.h"
#include "os/com/hresult.h"
#include "os/com/unknown.h"
#include "os/ui/message_box.h"
#include "os/sysinfo/version.h"
#include "tests/control/control_fakes.h"
#include "tests/support/ui_script.h"

namespace {
using pelisto::CPelistoCtrl;
using pelisto::PropertyBag;
using pelisto::testing::UiTest;

os::Variant Get(CPelistoCtrl& control, const char* name) {
  os::LONG id = 0;
  EXPECT_EQ(pelisto::GetIDsOfNames(name, &id), os::S_OK) << name;
  os::Variant value;
  EXPECT_EQ(control.Invoke(id, pelisto::DISPATCH_PROPERTYGET, {}, &value), os::S_OK) << name;
  return value;
}

std::string Text(const os::Variant& v) {
  std::string text;
  v.ToText(&text);
  return text;
}

class ControlTest : public UiTest {
 protected:
  std::unique_ptr<CPelistoCtrl> Loaded(const PropertyBag& bag = PropertyBag()) {
    auto control = std::make_unique<CPelistoCtrl>();
    control->Load(bag);
    return control;
  }
};

struct DefaultCase {
  const char* property;
  const char* value;  // as text; BOOLs as -1 / 0 (VARIANT_TRUE / FALSE)
};

void PrintTo(const DefaultCase& c, std::ostream* out) { *out << c.property; }

class ControlDefaults : public ControlTest, public ::testing::WithParamInterface<DefaultCase> {};

TEST_P(ControlDefaults, EmptyBagGivesTheDefault) {
  auto control = Loaded();
  EXPECT_EQ(Text(Get(*control, GetParam().property)), GetParam().value) << GetParam().property;
}

INSTANTIATE_TEST_SUITE_P(
    Properties, ControlDefaults,
    ::testing::Values(DefaultCase{"deleteZipFile", "0"}, DefaultCase{"registry", "0"},
                      DefaultCase{"configDir", ""}, DefaultCase{"enableLog", "-1"},
                      DefaultCase{"selfUi", "-1"}, DefaultCase{"dlgNotClose", "0"},
                      DefaultCase{"logLevel", "1"}, DefaultCase{"language", "KOR"}),
    [](const auto& info) { return std::string(info.param.property); });

TEST_F(ControlTest, PersistedKeysWithoutDispatchEntryHaveTheirDefaults) {
  auto control = Loaded();
  const pelisto::ControlSettings& s = control->Settings();
  EXPECT_EQ(s.hide_download_cancel, os::FALSE);
  EXPECT_EQ(s.stop_not_find_content, os::TRUE);
  EXPECT_EQ(s.fileinuse_disable, "");
  EXPECT_EQ(s.fileinuse_hidden, "");
}

struct BagCase {
  const char* key;
  os::Variant stored;
  os::BOOL expected;
};

void PrintTo(const BagCase& c, std::ostream* out) {
  std::string text;
  c.stored.ToText(&text);
  *out << c.key << "=" << text;
}

class ControlBoolKeys : public ControlTest, public ::testing::WithParamInterface<BagCase> {};

TEST_P(ControlBoolKeys, LoadNormalisesOrFallsBack) {
  PropertyBag bag;
  bag.Write(GetParam().key, GetParam().stored);
  auto control = Loaded(bag);
  const pelisto::ControlSettings& s = control->Settings();
  const std::string key = os::AsciiLower(GetParam().key);
  os::BOOL got = key == "selfui"               ? s.self_ui
                 : key == "stopnotfindcontent" ? s.stop_not_find_content
                 : key == "registry"           ? s.registry
                                               : s.hide_download_cancel;
  EXPECT_EQ(got, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ControlBoolKeys,
    ::testing::Values(BagCase{"selfUi", os::Variant::Text("-1"), 1},
                      BagCase{"selfUi", os::Variant::Long(-1), 1},
                      BagCase{"SELFUI", os::Variant::Bool(true), 1},
                      BagCase{"selfUi", os::Variant::Text("0"), 0},
                      BagCase{"selfUi", os::Variant::Text("abc"), 1},  // wrong type: default
                      BagCase{"stopNotFindContent", os::Variant::Text("False"), 0},
                      BagCase{"stopNotFindContent", os::Variant::Text("yes"), 1},
                      // A true value is TRUE, so that "exactly 1" rules see it.
                      BagCase{"registry", os::Variant::Text("2"), 1},
                      BagCase{"hideDownloadCancel", os::Variant::Text("true"), 1}));

TEST_F(ControlTest, SaveWritesTheKeysInExchangeOrderWithVersionOne) {
  PropertyBag in;
  in.Write("configDir", os::Variant::Text("{program}\\Vendor"));
  in.Write("selfUi", os::Variant::Text("0"));
  auto control = Loaded(in);
  PropertyBag out;
  control->Save(&out);
  std::vector<std::string> keys;
  for (const auto& [name, value] : out.entries()) keys.push_back(name);
  EXPECT_EQ(keys, (std::vector<std::string>{
                      "_Version", "deleteZipFile", "registry", "enableLog", "selfUi",
                      "configDir", "dlgNotClose", "hideDownloadCancel", "stopNotFindContent",
                      "fileinuse_disable", "fileinuse_hidden", "language", "configPublicKey"}));
  os::Variant v;
  ASSERT_TRUE(out.Read("_Version", &v));
  EXPECT_EQ(v.lVal(), 0x00010000);
  ASSERT_TRUE(out.Read("enableLog", &v));
  EXPECT_EQ(v.boolVal(), os::VARIANT_TRUE);

  auto reloaded = Loaded(out);
  EXPECT_EQ(reloaded->Settings().enable_log, os::TRUE) << "VARIANT_TRUE reads back as 1";
  EXPECT_EQ(reloaded->Settings().self_ui, os::FALSE);
  EXPECT_EQ(reloaded->Settings().config_dir, "{program}\\Vendor");
  EXPECT_EQ(reloaded->LoadedVersion(), 0x00010000u);
  EXPECT_EQ(reloaded->Settings().log_level, 1) << "logLevel is not persisted";
}

class ControlLanguage : public ControlTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    ControlTest::SetUp();
    SetOsMajor(GetParam());
  }
  std::unique_ptr<CPelistoCtrl> WithLanguage(const char* language) {
    PropertyBag bag;
    bag.Write("language", os::Variant::Text(language));
    return Loaded(bag);
  }
};

TEST_P(ControlLanguage, AppliedAfterEveryLoadOnly) {
  auto control = WithLanguage("eng");
  EXPECT_EQ(os::GetThreadUILanguage(), os::kLangEnglish);
  control = WithLanguage("JPN");
  EXPECT_EQ(os::GetThreadUILanguage(), os::kLangEnglish) << "an unknown language changes nothing";
  EXPECT_EQ(control->Settings().language, "JPN");

  os::LONG id = 0;
  pelisto::GetIDsOfNames("language", &id);
  ASSERT_EQ(control->Invoke(id, pelisto::DISPATCH_PROPERTYPUT, {os::Variant::Text("KOR")},
                            nullptr),
            os::S_OK);
  EXPECT_EQ(os::GetThreadUILanguage(), os::kLangEnglish) << "script sets take effect at load";
  PropertyBag saved;
  control->Save(&saved);
  control->Load(saved);
  EXPECT_EQ(os::GetThreadUILanguage(), os::kLangKorean);
}

INSTANTIATE_TEST_SUITE_P(Versions, ControlLanguage, ::testing::Values(5, 6, 10),
                         [](const auto& info) { return "Windows" + std::to_string(info.param); });

TEST_F(ControlTest, ConstructionComputesFoldersAndTheVersionFlag) {
  SetOsMajor(5);
  CPelistoCtrl old_system;
  EXPECT_FALSE(old_system.IsWindows6());
  EXPECT_EQ(old_system.Folders().windows, "C:\\Windows");
  EXPECT_EQ(old_system.Folders().system, "C:\\Windows\\system32");
  EXPECT_EQ(old_system.Folders().program_files, "C:\\Program Files");
  EXPECT_EQ(old_system.Folders().desktop, "C:\\Users\\user\\Desktop");
  EXPECT_EQ(old_system.Folders().module, "C:\\Windows\\Downloaded Program Files");
  EXPECT_EQ(old_system.Settings().language, "") << "text settings are empty until a load";
  SetOsMajor(6);
  CPelistoCtrl vista;
  EXPECT_TRUE(vista.IsWindows6());
}

TEST_F(ControlTest, SetCustomDirCountsSymbolsOnce) {
  auto control = Loaded();
  EXPECT_EQ(control->setCustomDir("{data}", "D:\\Data"), 1);
  EXPECT_EQ(control->setCustomDir("{data}", "E:\\Other"), 1);
  EXPECT_EQ(control->setCustomDir("{DATA}", "F:\\"), 2) << "symbols are compared exactly";
  EXPECT_EQ(control->CustomDirs().at("{data}"), "E:\\Other");
}

TEST_F(ControlTest, AboutBoxShowsNothing) {
  auto control = Loaded();
  os::Variant result = os::Variant::Long(7);
  EXPECT_EQ(control->Invoke(pelisto::DISPID_ABOUTBOX, pelisto::DISPATCH_METHOD, {}, &result),
            os::S_OK);
  EXPECT_TRUE(result.IsEmpty());
  EXPECT_TRUE(ui().Boxes().empty());
  EXPECT_TRUE(ui().Events().empty());
}

TEST_F(ControlTest, GetConfigAnswersABadAddressWithABoxAndAFailedDownloadInTheLog) {
  SetOsMajor(5);
  PropertyBag bag;
  bag.Write("selfUi", os::Variant::Text("0"));
  bag.Write("configDir", os::Variant::Text("C:\\cfg"));
  auto control = Loaded(bag);
  EXPECT_EQ(control->getConfig(".x/update.xml"), os::FALSE);
  ASSERT_EQ(ui().Boxes().size(), 1u) << "shown whatever selfUi says";
  EXPECT_EQ(ui().Boxes()[0].text, "URL error!");
  EXPECT_FALSE(HostExists("C:\\cfg\\Veltrane")) << "no folder before the address is good";

  EXPECT_EQ(control->getConfig("http://127.0.0.1:1/update.xml"), os::FALSE);
  EXPECT_EQ(control->LogFilePath().rfind("C:\\cfg\\Veltrane\\pold\\PloLog\\", 0), 0u);
  const std::string log = GetFile(control->LogFilePath());
  EXPECT_NE(log.find("[Pelisto Log File -getConfig]"), std::string::npos) << log;
  EXPECT_NE(log.find(" C:\\cfg\\Veltrane\\pold\\update.xml is not copyed !!!\r\n"),
            std::string::npos) << log;
}

TEST_F(ControlTest, FileInUseListsReachTheDialogAtLoad) {
  // Retry is pressed; when the page disabled it the press is refused and the dialog stops.
  auto run_dialog = [this] {
    Script("press 1 on \"Install Failed!\"\ntimeout 100\n");
    pelisto::CFileInUseDlg dialog;
    dialog.SetFile("C:\\Windows\\system32\\viewer.ocx");
    return dialog.DoModal();
  };
  PropertyBag bag;
  bag.Write("fileinuse_disable", os::Variant::Text("retry"));
  auto control = Loaded(bag);
  EXPECT_EQ(run_dialog(), pelisto::CFileInUseDlg::kStop);
  control = Loaded();
  EXPECT_EQ(run_dialog(), pelisto::CFileInUseDlg::kRetry);
}

class ControlShowMessage : public ControlTest,
                           public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(ControlShowMessage, OnlyWithSelfUiAndWithoutDlgNotClose) {
  PropertyBag bag;
  bag.Write("selfUi", os::Variant::Long(GetParam().first));
  bag.Write("dlgNotClose", os::Variant::Long(GetParam().second));
  auto control = Loaded(bag);
  control->ShowMessage("C:\\x is not copyed !!!");
  auto boxes = ui().Boxes();
  if (GetParam().first == 1 && GetParam().second == 0) {
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "C:\\x is not copyed !!!");
    EXPECT_EQ(boxes[0].type & os::MB_TYPEMASK, os::MB_OK);
  } else {
    EXPECT_TRUE(boxes.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Settings, ControlShowMessage,
                         ::testing::Values(std::pair{1, 0}, std::pair{1, 1}, std::pair{0, 0},
                                           std::pair{0, 1}));

TEST_F(ControlTest, ReportComErrorFormatsTheErrorWhateverSelfUiSays) {
  PropertyBag bag;
  bag.Write("selfUi", os::Variant::Long(0));
  auto control = Loaded(bag);
  control->ReportComError(os::ComError(os::E_FAIL, "IXMLDOMDocument", "bad node", "msxml4.dll"),
                          "CPelistoCtrl::StartParse");
  auto boxes = ui().Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "CPelistoCtrl::StartParse");
  EXPECT_EQ(boxes[0].type & os::MB_ICONMASK, os::MB_ICONEXCLAMATION);
  EXPECT_EQ(boxes[0].text, "Error\n\a\tCode = 80004005\n\a\tCode meaning = " +
                               os::HResultText(os::E_FAIL) +
                               "\n\a\tSource = msxml4.dll\n\a\tDescription = bad node\n");
}

struct SafetyCase {
  os::DWORD mask;
  os::DWORD enabled;
  os::HRESULT expected;
};

void PrintTo(const SafetyCase& c, std::ostream* out) {
  *out << "mask " << c.mask << " enabled " << c.enabled;
}

class ControlObjectSafety : public ::testing::TestWithParam<SafetyCase> {};

TEST_P(ControlObjectSafety, SetSucceedsWhenTheMaskIsKnownAndEnabled) {
  EXPECT_EQ(pelisto::SetInterfaceSafetyOptions(pelisto::IID_IDispatch, GetParam().mask,
                                               GetParam().enabled),
            GetParam().expected)
      << "mask " << GetParam().mask << " enabled " << GetParam().enabled;
}

INSTANTIATE_TEST_SUITE_P(Masks, ControlObjectSafety,
                         ::testing::Values(SafetyCase{0, 0, os::S_OK}, SafetyCase{1, 1, os::S_OK},
                                           SafetyCase{3, 3, os::S_OK}, SafetyCase{1, 3, os::S_OK},
                                           SafetyCase{2, 1, os::E_FAIL},
                                           SafetyCase{3, 1, os::E_FAIL},
                                           SafetyCase{4, 4, os::E_FAIL},
                                           SafetyCase{7, 7, os::E_FAIL}));

TEST(ControlObjectSafetyQuery, EveryOfferedInterfaceIsSafeOthersAreUnknown) {
  for (const os::IID& iid : {os::IID_IUnknown, pelisto::IID_IDispatch, pelisto::DIID_DPelisto,
                             pelisto::IID_IObjectSafety, pelisto::IID_IPersistPropertyBag}) {
    os::DWORD supported = 0, enabled = 0;
    EXPECT_EQ(pelisto::GetInterfaceSafetyOptions(iid, &supported, &enabled), os::S_OK);
    EXPECT_EQ(supported, 3u);
    EXPECT_EQ(enabled, 3u);
  }
  os::DWORD supported = 9, enabled = 9;
  EXPECT_EQ(pelisto::GetInterfaceSafetyOptions(pelisto::DIID_DPelistoEvents, &supported, &enabled),
            os::E_NOINTERFACE);
  EXPECT_EQ(pelisto::SetInterfaceSafetyOptions(pelisto::DIID_DPelistoEvents, 1, 1),
            os::E_NOINTERFACE);
}

TEST_F(ControlTest, DrawsWhiteBoundsThenTheVersionLine) {
  struct Recorder : pelisto::Painter {
    void FillWhite(const os::RECT& r) override {
      calls.push_back("fill " + std::to_string(r.right) + "x" + std::to_string(r.bottom));
    }
    void DrawCenteredLine(const std::string& text, const os::RECT&) override {
      calls.push_back("text " + text);
    }
    std::vector<std::string> calls;
  } painter;
  os::RECT bounds;
  bounds.right = 120;
  bounds.bottom = 30;
  Loaded()->OnDraw(&painter, bounds);
  EXPECT_EQ(painter.calls,
            (std::vector<std::string>{"fill 120x30", "text Pelistomat_m Ver  2.6.1.3"}));
}

}  // namespace
