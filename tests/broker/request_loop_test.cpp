#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "broker/request_loop.h"
#include "os/base/error.h"
#include "os/com/hresult.h"
#include "os/reg/registry.h"
#include "platform/broker_protocol.h"
#include "tests/support/image_test.h"

namespace {
using pelisto::BrokerMessage;
using pelisto::BrokerOp;

class BrokerRequestLoop : public pelisto::testing::ImageTest {
 protected:
  void SetUp() override {
    ImageTest::SetUp();
    pelisto::CreateLocalFileManager(files_.ReleaseAndGetAddressOf());
  }
  BrokerMessage Answer(BrokerMessage request) {
    request.id = 31;
    return pelisto::AnswerBrokerRequest(*files_.Get(), request);
  }
  os::ComPtr<pelisto::IFileManager> files_;
};

// Fields that do not match the operation never reach the implementation: the answer is a
// refusal in the shape the operation's answer has.
TEST_F(BrokerRequestLoop, RequestsWhoseFieldsDoNotMatchAreRefusedInShape) {
  const std::vector<BrokerMessage> requests = {
      {BrokerOp::kDeleteFile, false, 0, {}, {}},
      {BrokerOp::kCopyFile, false, 0, {u"C:\\a"}, {0}},
      {BrokerOp::kCreateDirectory, false, 0, {u"C:\\a"}, {}},
      {BrokerOp::kReadRegString, false, 0, {u"SOFTWARE"}, {0x80000002, 1}},
  };
  for (const BrokerMessage& request : requests) {
    const BrokerMessage answer = Answer(request);
    EXPECT_TRUE(answer.reply);
    EXPECT_EQ(answer.op, request.op);
    EXPECT_EQ(answer.id, 31u);
    ASSERT_FALSE(answer.numbers.empty());
    EXPECT_EQ(static_cast<os::HRESULT>(answer.numbers[0]), os::E_INVALIDARG)
        << "operation " << static_cast<int>(request.op);
    std::string frame;
    EXPECT_EQ(pelisto::EncodeBrokerMessage(answer, &frame), pelisto::BrokerStatus::kOk)
        << "the answer can be sent";
  }
  EXPECT_EQ(static_cast<os::HRESULT>(Answer({BrokerOp::kHello, false, 0, {}, {}}).numbers.at(0)),
            os::E_UNEXPECTED);
}

// An out number the implementation leaves alone goes back as the caller sent it; an out text
// goes back only on success, and one too long for an answer not at all.
TEST_F(BrokerRequestLoop, OutValuesGoBackAsTheImplementationLeavesThem) {
  BrokerMessage query = Answer({BrokerOp::kQueryOpenFile, false, 0, {}, {77}});
  EXPECT_EQ(static_cast<os::HRESULT>(query.numbers.at(0)), os::E_HANDLE);
  EXPECT_EQ(query.numbers.at(1), 77u) << "no file is open: the caller's value comes back";

  os::HKEY key = nullptr;
  ASSERT_EQ(os::RegCreateKeyExA(os::HKEY_CURRENT_USER, "Software\\Big", 0, nullptr, 0,
                                os::KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
  const std::string big(pelisto::kBrokerMaxText + 1, 'b');
  ASSERT_EQ(os::RegSetValueExA(key, "v", 0, os::REG_SZ,
                               reinterpret_cast<const os::BYTE*>(big.c_str()),
                               static_cast<os::DWORD>(big.size() + 1)), 0);
  ASSERT_EQ(os::RegSetValueExA(key, "small", 0, os::REG_SZ,
                               reinterpret_cast<const os::BYTE*>("ok"), 3), 0);
  os::RegCloseKey(key);
  const BrokerMessage read_big =
      Answer({BrokerOp::kReadRegString, false, 0, {u"Software\\Big", u"v"}, {0x80000001}});
  EXPECT_EQ(static_cast<os::HRESULT>(read_big.numbers.at(0)),
            os::HRESULT_FROM_WIN32(os::ERROR_MORE_DATA));
  EXPECT_EQ(read_big.texts, std::vector<std::u16string>{u""});
  const BrokerMessage read_small =
      Answer({BrokerOp::kReadRegString, false, 0, {u"Software\\Big", u"small"}, {0x80000001}});
  EXPECT_EQ(read_small.numbers, std::vector<std::uint32_t>{0});
  EXPECT_EQ(read_small.texts, std::vector<std::u16string>{u"ok"});
  const BrokerMessage read_missing =
      Answer({BrokerOp::kReadRegString, false, 0, {u"Software\\Big", u"none"}, {0x80000001}});
  EXPECT_TRUE(os::FAILED(static_cast<os::HRESULT>(read_missing.numbers.at(0))));
  EXPECT_EQ(read_missing.texts, std::vector<std::u16string>{u""});
}

}  // namespace
