// Signed configurations: the update run with the publisher's key checks the detached
// signature before anything reads the document, on Windows 5 and 6, against the loopback
// server.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "actions/registry_ops.h"
#include "engine/config_signature.h"
#include "engine/config_update_run.h"
#include "engine/parse_by_registry.h"
#include "tests/support/action_test.h"
#include "tests/support/http_server.h"

namespace pelisto::testing {
namespace {

constexpr char kWork[] = "C:\\cfg\\Veltrane\\pold";
constexpr char kLocal[] = "C:\\cfg\\Veltrane\\pold\\update.xml";
constexpr char kSignature[] = "C:\\cfg\\Veltrane\\pold\\update.xml.sig";
constexpr char kStored[] = "C:\\cfg\\Veltrane\\pold\\update.xml.old";
constexpr char kInstalled[] = "C:\\Demo\\a.txt";
constexpr char kStoredBefore[] = "<list><content name='old' ver='0' url='x'/></list>";

// Public: the cases of the refused runs arrange what is served through it.
class SignedConfig : public ActionTest, public ::testing::WithParamInterface<int> {
 public:
  void SetUp() override {
    ActionTest::SetUp();
    ASSERT_TRUE(GenerateEd25519Key(&seed_, &public_key_));
    server_.Route("/site/update.xml", [this](const httplib::Request&, httplib::Response& res) {
      ServeBytes(res, served_config_.value_or(config_));
    });
    server_.Route("/site/update.xml.sig", [this](const httplib::Request&, httplib::Response& res) {
      if (signature_) {
        ServeBytes(res, *signature_);
      } else {
        res.status = 404;
      }
    });
    std::string error;
    ASSERT_TRUE(server_.Start(&error)) << error;
    WriteHostFile(server_.root() + "/a.txt", "alpha");
    context_ = &Context(GetParam());
    context_->settings.config_dir = "C:\\cfg";
    context_->settings.self_ui = os::FALSE;
    context_->settings.config_public_key = EncodeBase64(public_key_);
    config_ = "<list><content name='a.txt' ver='1.0' url='" + server_.Url("/files/a.txt") +
              "' target='C:\\Demo'/></list>";
  }
  std::string Sign(const std::string& bytes, const std::string& seed) {
    std::string signature;
    EXPECT_TRUE(SignEd25519(seed, bytes, &signature));
    return signature;
  }
  std::string Sign(const std::string& bytes) { return Sign(bytes, seed_); }
  os::BOOL Run() { return RunConfigUpdate(*context_, server_.Url("/site/update.xml")); }
  bool LoggedAt(const std::string& text, unsigned level) {
    for (const auto& line : context_->log) {
      if (line.text == context_->log_time + text && line.level == level) return true;
    }
    return false;
  }
  int Requests(const std::string& path) {
    int n = 0;
    for (const LoggedRequest& r : server_.Requests()) n += r.path == path;
    return n;
  }
  // What a refused run leaves: nothing installed, the stored copy as it was, and neither the
  // configuration nor its signature in the work folder.
  void ExpectNothingDone(const std::string& what) {
    EXPECT_FALSE(HostExists(kInstalled)) << what;
    EXPECT_EQ(Requests("/files/a.txt"), 0) << what;
    EXPECT_EQ(GetFile(kStored), kStoredBefore) << what;
    EXPECT_FALSE(HostExists(kLocal)) << what;
    EXPECT_FALSE(HostExists(kSignature)) << what;
  }

  HttpServer server_;
  FakeRunContext* context_ = nullptr;
  std::string seed_, public_key_;
  std::string config_;
  std::optional<std::string> served_config_;  // served in place of config_ when set
  std::optional<std::string> signature_;      // none: the signature answers 404
};

TEST_P(SignedConfig, AGoodSignatureRawOrBase64LetsTheRunInstall) {
  for (bool base64 : {false, true}) {
    const std::string what = base64 ? "base64" : "raw";
    signature_ = base64 ? "\r\n  " + EncodeBase64(Sign(config_)) + "\n\n" : Sign(config_);
    context_->log.clear();
    ASSERT_EQ(Run(), os::TRUE) << what;
    EXPECT_EQ(GetFile(kInstalled), "alpha") << what;
    EXPECT_TRUE(HostExists(kStored)) << what;
    EXPECT_FALSE(HostExists(kLocal)) << what;
    EXPECT_FALSE(HostExists(kSignature)) << what << ": the signature is not kept";
    EXPECT_TRUE(LoggedAt(" Configuration signature verified: " + server_.Url("/site/update.xml"), 0))
        << what;
    PutFile(kInstalled, "changed");  // the second round installs it again
    PutFile(kStored, "<list/>");
  }
}

struct BadSignature {
  const char* name;
  // Sets what is served, given the fixture.
  std::function<void(SignedConfig&)> arrange;
  const char* line;  // the start of the level-2 line
};

class SignedConfigRefused : public SignedConfig {
 protected:
  void Check(const BadSignature& c) {
    PutFile(kStored, kStoredBefore);
    signature_.reset();
    served_config_.reset();
    context_->log.clear();
    server_.ClearLog();
    c.arrange(*this);
    EXPECT_EQ(Run(), os::FALSE) << c.name;
    bool found = false;
    for (const auto& line : context_->log) {
      found = found || (line.level == 2 && line.text.rfind(context_->log_time + c.line, 0) == 0);
    }
    EXPECT_TRUE(found) << c.name << ": no line starting '" << c.line << "'";
    EXPECT_FALSE(context_->Logged("parsing")) << c.name << ": nothing read the document";
    ExpectNothingDone(c.name);
  }
};

TEST_P(SignedConfigRefused, EndsTheRunWithTheLineThatSaysWhy) {
  for (const BadSignature& c : std::vector<BadSignature>{
           {"Missing", [](SignedConfig&) {}, " Configuration signature missing: "},
           {"Empty", [](SignedConfig& t) { t.signature_ = ""; }, " Configuration signature malformed: "},
           {"TruncatedRaw", [](SignedConfig& t) { t.signature_ = t.Sign(t.config_).substr(0, 63); },
            " Configuration signature malformed: "},
           {"TruncatedBase64",
            [](SignedConfig& t) { t.signature_ = EncodeBase64(t.Sign(t.config_)).substr(0, 86); },
            " Configuration signature malformed: "},
           {"NotBase64", [](SignedConfig& t) { t.signature_ = std::string(88, '*'); },
            " Configuration signature malformed: "},
           {"TooLong", [](SignedConfig& t) { t.signature_ = std::string(1 << 20, 'A'); },
            " Configuration signature malformed: "},
           {"AnotherKeys",
            [](SignedConfig& t) {
              std::string other_seed, other_public;
              ASSERT_TRUE(GenerateEd25519Key(&other_seed, &other_public));
              t.signature_ = t.Sign(t.config_, other_seed);
            },
            " Configuration signature wrong: "},
           {"OneByteChangedAfterSigning",
            [](SignedConfig& t) {
              t.signature_ = EncodeBase64(t.Sign(t.config_));
              std::string changed = t.config_;
              changed[changed.find("1.0")] = '2';
              t.served_config_ = changed;
            },
            " Configuration signature wrong: "},
           {"SignatureOfTheStoredCopy",
            [](SignedConfig& t) { t.signature_ = t.Sign(kStoredBefore); },
            " Configuration signature wrong: "},
       }) {
    Check(c);
  }
}

TEST_P(SignedConfig, AMissingSignatureThroughTheDownloadDialogIsSaidInABox) {
  context_->settings.self_ui = os::TRUE;
  PutFile(kStored, kStoredBefore);
  EXPECT_EQ(Run(), os::FALSE);
  const std::string text = "Configuration signature missing: " + server_.Url("/site/update.xml.sig");
  EXPECT_TRUE(LoggedAt(" " + text, 2));
  ASSERT_FALSE(context_->messages.empty());
  EXPECT_EQ(context_->messages.back(), text);
  ExpectNothingDone("dialog");

  signature_ = Sign(config_);
  context_->messages.clear();
  EXPECT_EQ(Run(), os::TRUE) << "the dialog path fetches the signature too";
  EXPECT_EQ(GetFile(kInstalled), "alpha");
}

TEST_P(SignedConfig, AKeyThatIsNoBase64OfThirtyTwoBytesFailsBeforeAnyRequest) {
  for (const std::string& key :
       {std::string("not a key"), EncodeBase64(std::string(31, 'k')), EncodeBase64(std::string(64, 'k')),
        std::string(" "), EncodeBase64(public_key_) + "x"}) {
    context_->settings.config_public_key = key;
    context_->log.clear();
    signature_ = Sign(config_);
    EXPECT_EQ(Run(), os::FALSE) << key;
    EXPECT_TRUE(LoggedAt(" configPublicKey is not the base64 of a 32-byte Ed25519 public key", 2)) << key;
    EXPECT_EQ(server_.RequestCount(), 0u) << key;
    EXPECT_FALSE(HostExists(kInstalled)) << key;
  }
}

TEST_P(SignedConfig, AnEmptyKeyAsksForNoSignatureAndWritesNoLineOfIt) {
  context_->settings.config_public_key.clear();
  signature_ = "garbage that would be refused";
  ASSERT_EQ(Run(), os::TRUE);
  EXPECT_EQ(GetFile(kInstalled), "alpha");
  EXPECT_EQ(Requests("/site/update.xml.sig"), 0);
  EXPECT_EQ(Requests("/site/update.xml"), 1);
  EXPECT_FALSE(context_->Logged("ignature")) << "no line about signatures";
  EXPECT_FALSE(context_->Logged("configPublicKey"));
  EXPECT_FALSE(HostExists(kSignature));
}

TEST_P(SignedConfig, ThePlantedSignatureOfAnEarlierRunIsNoSignature) {
  // A file left in the work folder does not stand in for the one the server lacks.
  PutFile(kStored, kStoredBefore);
  PutFile(kSignature, Sign(config_));
  EXPECT_EQ(Run(), os::FALSE);
  EXPECT_TRUE(context_->Logged(" Configuration signature missing: "));
  ExpectNothingDone("planted");
}

TEST_P(SignedConfig, TheRegistryModeRunIsCheckedToo) {
  context_->settings.registry = os::TRUE;
  config_ = "<config><item name='a' ver='1.0' url='" + server_.Url("/files/a.txt") +
            "' target='C:\\Demo'/></config>";
  signature_ = Sign(config_ + " ");
  EXPECT_EQ(Run(), os::FALSE);
  EXPECT_TRUE(context_->Logged(" Configuration signature wrong: "));
  EXPECT_FALSE(HostExists(kInstalled));
  EXPECT_EQ(ReadRegistryString(os::HKEY_LOCAL_MACHINE, RecordKeyOf("a"), "ver"), "");
  EXPECT_FALSE(HostExists(kLocal));

  signature_ = Sign(config_);
  ASSERT_EQ(Run(), os::TRUE);
  EXPECT_EQ(GetFile(kInstalled), "alpha");
  EXPECT_EQ(ReadRegistryString(os::HKEY_LOCAL_MACHINE, RecordKeyOf("a"), "ver"), "1.0");
}

TEST_P(SignedConfig, ADocumentSwappedAfterItsCheckIsNotTheOneRead) {
  // Another process that may write the work folder swaps the checked file before the walk.
  const std::string evil_target = "C:\\Evil\\b.txt";
  WriteHostFile(server_.root() + "/b.txt", "planted");
  for (const os::BOOL registry : {os::FALSE, os::TRUE}) {
    const std::string what = registry ? "registry mode" : "comparison";
    context_->settings.registry = registry;
    const auto document = [&](const std::string& file, const std::string& folder) {
      const std::string rest = " ver='1.0' url='" + server_.Url("/files/" + file) + "' target='" + folder + "'/>";
      return registry ? "<config><item name='" + file + "'" + rest + "</config>"
                      : "<list><content name='" + file + "'" + rest + "</list>";
    };
    config_ = document("a.txt", "C:\\Demo");
    const std::string evil = document("b.txt", "C:\\Evil");
    signature_ = Sign(config_);
    bool swapped = false;
    context_->on_log = [&](const std::string& text) {
      if (text.find("Configuration signature verified") == std::string::npos) return;
      PutFile(kLocal, evil);
      swapped = true;
    };
    ASSERT_EQ(Run(), os::TRUE) << what;
    EXPECT_TRUE(swapped) << what;
    EXPECT_EQ(GetFile(kInstalled), "alpha") << what;
    EXPECT_FALSE(HostExists(evil_target)) << what;
    EXPECT_EQ(Requests("/files/b.txt"), 0) << what;
    if (!registry) {
      const std::string stored = GetFile(kStored);
      EXPECT_NE(stored.find("a.txt"), std::string::npos) << stored;
      EXPECT_EQ(stored.find("Evil"), std::string::npos) << stored;
    }
    context_->on_log = nullptr;
    PutFile(kInstalled, "changed");
  }
}

INSTANTIATE_TEST_SUITE_P(Windows, SignedConfig, ::testing::Values(5, 6),
                         [](const auto& info) { return "Windows" + std::to_string(info.param); });
INSTANTIATE_TEST_SUITE_P(Windows, SignedConfigRefused, ::testing::Values(5, 6),
                         [](const auto& info) { return "Windows" + std::to_string(info.param); });

}  // namespace
}  // namespace pelisto::testing
