// The publisher's key as the page's property bag carries it, and checkAndUpdate through the
// control with it, on Windows 5 and 6.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "control/pelisto_ctrl.h"
#include "engine/config_signature.h"
#include "os/com/apartment.h"
#include "platform/broker_client.h"
#include "tests/support/http_server.h"
#include "tests/support/ui_script.h"

namespace pelisto::testing {
namespace {

constexpr char kPlantedCopy[] = "C:\\cfg\\pold\\update.xml.old";

class SignedConfigControl : public UiTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    SetOsMajor(GetParam());
    os::OleInitialize(nullptr);
    ASSERT_TRUE(GenerateEd25519Key(&seed_, &public_key_));
    server_.Route("/site/update.xml", [this](const httplib::Request&, httplib::Response& res) {
      ServeBytes(res, config_);
    });
    server_.Route("/site/update.xml.txt", [](const httplib::Request&, httplib::Response& res) {
      ServeBytes(res, "pre-check 1");
    });
    server_.Route("/site/update.xml.sig", [this](const httplib::Request&, httplib::Response& res) {
      std::string signature;
      ASSERT_TRUE(SignEd25519(seed_, signed_.value_or(config_), &signature));
      ServeBytes(res, EncodeBase64(signature));
    });
    std::string error;
    ASSERT_TRUE(server_.Start(&error)) << error;
    WriteHostFile(server_.root() + "/a.txt", "alpha");
    WriteHostFile(server_.root() + "/evil.txt", "evil");
    config_ = Document("a.txt");
  }
  void TearDown() override {
    control_.reset();
    ReleaseBroker();
    os::OleUninitialize();
    UiTest::TearDown();
  }
  std::string Document(const std::string& name) {
    return "<list><content name='" + name + "' ver='1.0' url='" + server_.Url("/files/" + name) +
           "' target='C:\\Demo'/></list>";
  }
  CPelistoCtrl& Control(const std::string& key) {
    PropertyBag bag;
    bag.Write("selfUi", os::Variant::Text("0"));
    bag.Write("configDir", os::Variant::Text("C:\\cfg"));
    bag.Write("configPublicKey", os::Variant::Text(key));
    control_ = std::make_unique<CPelistoCtrl>();
    control_->Load(bag);
    control_->MutableSettings().log_level = 0;  // the progress lines too
    return *control_;
  }
  os::BOOL CheckAndUpdate(CPelistoCtrl& control) {
    return control.checkAndUpdate(server_.Url("/site/update.xml"), "txt", "TEXTFILE");
  }
  // Every log of the runs: checkAndUpdate logs its pre-check in C:\cfg\pold, getConfig in
  // C:\cfg\Veltrane\pold.
  std::string Log() {
    std::string all;
    for (const auto& e : std::filesystem::recursive_directory_iterator(Host("C:\\cfg"))) {
      if (e.is_regular_file() && e.path().parent_path().filename() == "PloLog") {
        all += ReadHostFile(e.path().string());
      }
    }
    return all;
  }

  HttpServer server_;
  std::string seed_, public_key_;
  std::string config_;
  std::optional<std::string> signed_;  // what the signature is made over; none: config_
  std::unique_ptr<CPelistoCtrl> control_;
};

TEST_P(SignedConfigControl, TheKeyIsPersistedAfterTheOtherKeys) {
  CPelistoCtrl& control = Control("AAAA");
  EXPECT_EQ(control.Settings().config_public_key, "AAAA");
  PropertyBag saved;
  control.Save(&saved);
  os::Variant value;
  ASSERT_TRUE(saved.Read("configpublickey", &value)) << "names compare without case";
  std::string text;
  value.ToText(&text);
  EXPECT_EQ(text, "AAAA");
  EXPECT_EQ(saved.entries().back().first, "configPublicKey");

  CPelistoCtrl fresh;
  fresh.ResetState();
  EXPECT_EQ(fresh.Settings().config_public_key, "") << "empty by default";
}

TEST_P(SignedConfigControl, CheckAndUpdateInstallsASignedConfiguration) {
  CPelistoCtrl& control = Control(EncodeBase64(public_key_));
  ASSERT_EQ(CheckAndUpdate(control), os::TRUE) << Log();
  EXPECT_EQ(GetFile("C:\\Demo\\a.txt"), "alpha");
  EXPECT_NE(Log().find(" Configuration signature verified: "), std::string::npos) << Log();
}

TEST_P(SignedConfigControl, CheckAndUpdateRefusesAWrongSignatureAndInstallsNothing) {
  CPelistoCtrl& control = Control(EncodeBase64(public_key_));
  signed_ = Document("other.txt");
  EXPECT_EQ(CheckAndUpdate(control), os::FALSE);
  EXPECT_FALSE(HostExists("C:\\Demo\\a.txt"));
  EXPECT_FALSE(HostExists("C:\\cfg\\Veltrane\\pold\\update.xml.old"));
  EXPECT_NE(Log().find(" Configuration signature wrong: " + server_.Url("/site/update.xml")),
            std::string::npos) << Log();
}

TEST_P(SignedConfigControl, WithTheKeyAnUnchangedPreCheckDoesNotWalkAnUnsignedStoredCopy) {
  CPelistoCtrl& control = Control(EncodeBase64(public_key_));
  ASSERT_EQ(CheckAndUpdate(control), os::TRUE) << Log();
  // A stored configuration where checkAndUpdate looks for one, signed by no one.
  PutFile(kPlantedCopy, Document("evil.txt"));
  ASSERT_EQ(CheckAndUpdate(control), os::TRUE) << Log();
  EXPECT_FALSE(HostExists("C:\\Demo\\evil.txt"));
  EXPECT_NE(Log().find(" Stored configuration not walked without its signature: " +
                       std::string(kPlantedCopy)),
            std::string::npos) << Log();
  int config_requests = 0;
  for (const LoggedRequest& r : server_.Requests()) config_requests += r.path == "/site/update.xml.sig";
  EXPECT_EQ(config_requests, 2) << "the second run fetched and checked the configuration again";

  // Without the key the same stored copy is walked, as before.
  CPelistoCtrl& unsigned_control = Control("");
  ASSERT_EQ(CheckAndUpdate(unsigned_control), os::TRUE) << Log();
  EXPECT_EQ(GetFile("C:\\Demo\\evil.txt"), "evil");
}

INSTANTIATE_TEST_SUITE_P(Windows, SignedConfigControl, ::testing::Values(5, 6),
                         [](const auto& info) { return "Windows" + std::to_string(info.param); });

}  // namespace
}  // namespace pelisto::testing
