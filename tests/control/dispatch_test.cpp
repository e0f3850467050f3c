#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "os/com/hresult.h"
#include "control/dispatch_table.h"
#include "control/events.h"
#include "control/pelisto_ctrl.h"
#include "tests/support/ui_script.h"

namespace {
using pelisto::CPelistoCtrl;
using pelisto::DISPATCH_METHOD;
using pelisto::DISPATCH_PROPERTYGET;
using pelisto::DISPATCH_PROPERTYPUT;

TEST(DispatchNames, FoundWithoutRegardToCase) {
  os::LONG id = 0;
  EXPECT_EQ(pelisto::GetIDsOfNames("getconfig", &id), os::S_OK);
  EXPECT_EQ(id, 3);
  EXPECT_EQ(pelisto::GetIDsOfNames("LANGUAGE", &id), os::S_OK);
  EXPECT_EQ(id, 17);
  EXPECT_EQ(pelisto::GetIDsOfNames("aboutbox", &id), os::S_OK);
  EXPECT_EQ(id, pelisto::DISPID_ABOUTBOX);
}

TEST(DispatchNamesUnknown, UnknownNameLeavesTheIdAlone) {
  os::LONG id = 77;
  EXPECT_EQ(pelisto::GetIDsOfNames("getConfigs", &id), os::DISP_E_UNKNOWNNAME);
  EXPECT_EQ(pelisto::GetIDsOfNames("", &id), os::DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, 77);
}

TEST(DispatchEvents, ElevenEventsInIdentifierOrder) {
  const auto& table = pelisto::EventTable();
  ASSERT_EQ(table.size(), 11u);
  for (size_t i = 0; i < table.size(); ++i) EXPECT_EQ(table[i].id, static_cast<os::LONG>(i + 1));
  EXPECT_STREQ(pelisto::FindEvent(9)->name, "TotalDownloadFileNumber");
  EXPECT_EQ(pelisto::FindEventByName("isdownload")->id, pelisto::kEventIsDownload);
  EXPECT_FALSE(pelisto::FindEventByName("ErrorNotify")->has_cancel);
  EXPECT_TRUE(pelisto::FindEventByName("DownloadProgress")->has_cancel);
  EXPECT_EQ(pelisto::FindEvent(12), nullptr);
}

struct InvokeCase {
  const char* label;
  os::LONG id;
  os::WORD flags;
  std::vector<os::Variant> args;
  os::HRESULT expected;
  unsigned arg_error;  // checked for type failures
};

void PrintTo(const InvokeCase& c, std::ostream* out) { *out << c.label; }

class DispatchInvoke : public pelisto::testing::UiTest,
                       public ::testing::WithParamInterface<InvokeCase> {};

TEST_P(DispatchInvoke, BadCallsGiveDispatchErrors) {
  CPelistoCtrl control;
  control.Load(pelisto::PropertyBag());
  const InvokeCase& c = GetParam();
  os::Variant result = os::Variant::Long(99);
  unsigned arg_error = 1000;
  EXPECT_EQ(control.Invoke(c.id, c.flags, c.args, &result, &arg_error), c.expected) << c.label;
  EXPECT_TRUE(result.IsEmpty()) << c.label;
  if (c.expected == os::DISP_E_TYPEMISMATCH) {
    EXPECT_EQ(arg_error, c.arg_error) << c.label;
  }
  EXPECT_TRUE(control.CustomDirs().empty());
  EXPECT_FALSE(control.IsModified());
}

os::Variant T(const char* text) { return os::Variant::Text(text); }

INSTANTIATE_TEST_SUITE_P(
    Calls, DispatchInvoke,
    ::testing::Values(
        InvokeCase{"UnknownId", 18, DISPATCH_METHOD, {}, os::DISP_E_MEMBERNOTFOUND, 0},
        InvokeCase{"TooFewArgs", 3, DISPATCH_METHOD, {}, os::DISP_E_BADPARAMCOUNT, 0},
        InvokeCase{"TooManyArgs", 6, DISPATCH_METHOD, {T("a"), T("b"), T("c")},
                   os::DISP_E_BADPARAMCOUNT, 0},
        InvokeCase{"NotANumber", 5, DISPATCH_METHOD, {T("wide")}, os::DISP_E_TYPEMISMATCH, 0},
        InvokeCase{"NumberTooBig", 15, DISPATCH_METHOD, {T("99999999999")},
                   os::DISP_E_OVERFLOW, 0},
        InvokeCase{"PropertyCalled", 9, DISPATCH_METHOD, {}, os::DISP_E_MEMBERNOTFOUND, 0},
        InvokeCase{"MethodRead", 3, DISPATCH_PROPERTYGET, {}, os::DISP_E_MEMBERNOTFOUND, 0},
        InvokeCase{"MethodSet", 6, DISPATCH_PROPERTYPUT, {T("x")}, os::DISP_E_MEMBERNOTFOUND,
                   0},
        InvokeCase{"ReadWithArgs", 9, DISPATCH_PROPERTYGET, {T("1")}, os::DISP_E_BADPARAMCOUNT,
                   0},
        InvokeCase{"SetWithoutValue", 9, DISPATCH_PROPERTYPUT, {}, os::DISP_E_BADPARAMCOUNT, 0},
        InvokeCase{"BoolFromWord", 9, DISPATCH_PROPERTYPUT, {T("maybe")},
                   os::DISP_E_TYPEMISMATCH, 0},
        InvokeCase{"LevelFromWord", 11, DISPATCH_PROPERTYPUT, {T("high")},
                   os::DISP_E_TYPEMISMATCH, 0}),
    [](const auto& info) { return std::string(info.param.label); });

class DispatchControl : public pelisto::testing::UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    control_.Load(pelisto::PropertyBag());
  }
  os::Variant Call(const char* name, std::vector<os::Variant> args,
                   os::WORD flags = DISPATCH_METHOD) {
    os::LONG id = 0;
    EXPECT_EQ(pelisto::GetIDsOfNames(name, &id), os::S_OK);
    os::Variant result;
    EXPECT_EQ(control_.Invoke(id, flags, args, &result), os::S_OK) << name;
    return result;
  }
  CPelistoCtrl control_;
};

TEST_F(DispatchControl, PropertiesRoundTripAndMarkTheControlModified) {
  Call("selfUi", {T("0")}, DISPATCH_PROPERTYPUT);
  EXPECT_TRUE(control_.IsModified());
  EXPECT_EQ(control_.Settings().self_ui, os::FALSE);
  Call("SELFUI", {T("True")}, DISPATCH_PROPERTYPUT);
  EXPECT_EQ(control_.Settings().self_ui, os::TRUE) << "VARIANT_TRUE from script is kept as 1";
  Call("registry", {os::Variant::Long(5)}, DISPATCH_PROPERTYPUT);
  EXPECT_EQ(control_.Settings().registry, os::TRUE);
  Call("logLevel", {T(" 2 ")}, DISPATCH_PROPERTYPUT);
  EXPECT_EQ(Call("logLevel", {}, DISPATCH_PROPERTYGET).lVal(), 2);
  Call("configDir", {os::Variant::Long(42)}, DISPATCH_PROPERTYPUT);
  EXPECT_EQ(Call("configDir", {}, DISPATCH_PROPERTYGET).bstrVal(), "42");
  EXPECT_EQ(Call("selfUi", {}, DISPATCH_PROPERTYGET).vt(), os::VT_BOOL);
}

TEST_F(DispatchControl, MethodsTakeCoercedArgumentsAndAnswerTheirType) {
  os::Variant count = Call("setCustomDir", {T("{data}")});
  EXPECT_EQ(count.vt(), os::VT_I4);
  EXPECT_EQ(count.lVal(), 1);
  EXPECT_EQ(control_.CustomDirs().at("{data}"), "") << "a missing folder stores an empty text";
  EXPECT_EQ(Call("setCustomDir", {os::Variant::Long(7), T("D:\\Data")}).lVal(), 2);
  EXPECT_EQ(control_.CustomDirs().at("7"), "D:\\Data");

  os::Variant result = Call("getConfig", {T("http://h/update.xml")});
  EXPECT_EQ(result.vt(), os::VT_BOOL);
  EXPECT_EQ(result.boolVal(), os::VARIANT_FALSE);
  EXPECT_TRUE(Call("setIEResizable", {T("1")}).IsEmpty()) << "the window methods answer nothing";
}

}  // namespace
