#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/broker_protocol.h"

namespace {
using pelisto::BrokerField;
using pelisto::BrokerMessage;
using pelisto::BrokerOp;
using pelisto::BrokerStatus;

// Little-endian bytes for hand-made frames.
struct Bytes {
  std::string data;
  Bytes& U16(std::uint16_t v) {
    data.push_back(static_cast<char>(v & 0xFF));
    data.push_back(static_cast<char>(v >> 8));
    return *this;
  }
  Bytes& U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) data.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return *this;
  }
  Bytes& Text(std::u16string_view text) {
    U32(static_cast<std::uint32_t>(text.size()));
    for (char16_t c : text) U16(static_cast<std::uint16_t>(c));
    return *this;
  }
};

// A frame whose size field counts the bytes given after it.
std::string Frame(std::uint16_t version, std::uint16_t type, std::uint32_t id,
                  const std::string& fields) {
  Bytes body;
  body.U16(version).U16(type).U32(id);
  body.data += fields;
  Bytes frame;
  frame.U32(static_cast<std::uint32_t>(body.data.size()));
  return frame.data + body.data;
}

std::string Request(BrokerOp op, const std::string& fields) {
  return Frame(pelisto::kBrokerProtocolVersion, static_cast<std::uint16_t>(op), 7, fields);
}

// A message of `op` with every field filled from `seed`, valid for its bounds.
BrokerMessage Sample(BrokerOp op, bool reply, std::uint32_t seed) {
  BrokerMessage m;
  m.op = op;
  m.reply = reply;
  m.id = reply && op == BrokerOp::kHello ? 0 : seed;
  for (BrokerField kind : pelisto::BrokerFields(op, reply)) {
    if (kind == BrokerField::kNumber) {
      m.numbers.push_back(seed * 2654435761u);
    } else {
      m.texts.push_back(u"C:\\Program Files\\\uD55C\uAE00 " + std::u16string(seed % 5, u'x'));
    }
  }
  return m;
}

// ---------------------------------------------------------------------------------------------
// Frames the decoder must refuse, each with the reason it gives.

struct BadFrame {
  const char* name;
  std::string bytes;
  BrokerStatus status;
};

void PrintTo(const BadFrame& f, std::ostream* out) { *out << f.name; }

std::vector<BadFrame> BadFrames() {
  using S = BrokerStatus;
  const std::uint16_t v = pelisto::kBrokerProtocolVersion;
  const std::uint16_t del = static_cast<std::uint16_t>(BrokerOp::kDeleteFile);
  std::vector<BadFrame> frames = {
      {"Empty", "", S::kTruncated},
      {"ShortSize", std::string(3, '\0'), S::kTruncated},
      {"SizeBelowHeader", Bytes().U32(7).data + std::string(7, '\0'), S::kTruncated},
      {"SizeAtUInt32Max", Bytes().U32(0xFFFFFFFF).data, S::kOversized},
      {"SizeOneOverCap",
       Bytes().U32(static_cast<std::uint32_t>(pelisto::kBrokerMaxFrame - 3)).data,
       S::kOversized},
      {"BodyShorterThanSize", Request(BrokerOp::kDeleteFile, Bytes().Text(u"C:\\a").data)
                                  .substr(0, 20),
       S::kTruncated},
      {"BytesAfterFrame", Request(BrokerOp::kDeleteFile, Bytes().Text(u"C:\\a").data) + "x",
       S::kTrailingBytes},
      {"BytesAfterLastField",
       Request(BrokerOp::kDeleteFile, Bytes().Text(u"C:\\a").U16(0).data), S::kTrailingBytes},
      {"VersionZero", Frame(0, del, 1, Bytes().Text(u"C:\\a").data), S::kBadVersion},
      {"NextVersion", Frame(v + 1, del, 1, Bytes().Text(u"C:\\a").data), S::kBadVersion},
      {"UnknownOperation", Frame(v, 17, 1, ""), S::kUnknownType},
      {"UnknownAnswer", Frame(v, 0x8000 | 0x7FFF, 1, ""), S::kUnknownType},
      {"HelloAsRequest", Frame(v, 0, 0, Bytes().U32(1).data), S::kUnknownType},
      {"PathOneOverBound",
       Request(BrokerOp::kDeleteFile, Bytes().Text(std::u16string(pelisto::kBrokerMaxPath + 1, u'a')).data),
       S::kPathTooLong},
      // The bound is checked before the bytes are looked for, and before any arithmetic.
      {"PathCountHuge", Request(BrokerOp::kDeleteFile, Bytes().U32(0xFFFFFFFF).data),
       S::kPathTooLong},
      {"NameCountOverBound",
       Request(BrokerOp::kOpenFile, Bytes().Text(u"C:\\a").U32(pelisto::kBrokerMaxName + 1).data),
       S::kTextTooLong},
      {"TextCountOverBound",
       Request(BrokerOp::kWriteText, Bytes().U32(pelisto::kBrokerMaxText + 1).data),
       S::kTextTooLong},
      {"TextCountBeyondFrame",
       Request(BrokerOp::kDeleteFile, Bytes().U32(5).U16('C').U16(':').U16('\\').data),
       S::kTruncated},
      {"MissingNumber", Request(BrokerOp::kCopyFile, Bytes().Text(u"C:\\a").Text(u"C:\\b").data),
       S::kTruncated},
      {"HalfANumber",
       Request(BrokerOp::kCopyFile, Bytes().Text(u"C:\\a").Text(u"C:\\b").U16(0).data),
       S::kTruncated},
      {"NulInPath", Request(BrokerOp::kDeleteFile, Bytes().Text(std::u16string(u"C:\\a\0b", 6)).data),
       S::kBadText},
      {"NulInRegistryName",
       Request(BrokerOp::kWriteRegNumber,
               Bytes().U32(0x80000002).Text(std::u16string(u"SOFTWARE\0X", 10)).Text(u"v").U32(1).data),
       S::kBadText},
  };
  return frames;
}

class BrokerProcessProtocolBadFrames : public ::testing::TestWithParam<BadFrame> {};

TEST_P(BrokerProcessProtocolBadFrames, AreRefused) {
  BrokerMessage message = Sample(BrokerOp::kCopyFile, false, 3);
  const BrokerMessage before = message;
  EXPECT_EQ(pelisto::DecodeBrokerMessage(GetParam().bytes, &message), GetParam().status)
      << GetParam().name;
  EXPECT_EQ(message, before) << "a refused frame leaves the message alone";
}

INSTANTIATE_TEST_SUITE_P(Frames, BrokerProcessProtocolBadFrames, ::testing::ValuesIn(BadFrames()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Round trips and the encoder's own refusals.

TEST(BrokerProcessProtocol, EveryOperationRoundTripsInBothDirections) {
  for (std::uint16_t op = 0; op <= static_cast<std::uint16_t>(BrokerOp::kUnregisterComponent);
       ++op) {
    for (bool reply : {false, true}) {
      bool known = false;
      pelisto::BrokerFields(static_cast<BrokerOp>(op), reply, &known);
      if (!known) continue;
      const BrokerMessage sent = Sample(static_cast<BrokerOp>(op), reply, op + 1);
      std::string frame;
      ASSERT_EQ(pelisto::EncodeBrokerMessage(sent, &frame), BrokerStatus::kOk) << op;
      BrokerMessage got;
      ASSERT_EQ(pelisto::DecodeBrokerMessage(frame, &got), BrokerStatus::kOk) << op;
      EXPECT_EQ(got, sent) << "operation " << op << (reply ? " answer" : " request");
    }
  }
}

TEST(BrokerProcessProtocol, FieldsAtTheirBoundsFitInOneFrame) {
  BrokerMessage m;
  m.op = BrokerOp::kWriteRegString;
  m.numbers = {0x80000002};
  m.texts = {std::u16string(pelisto::kBrokerMaxName, u'k'),
             std::u16string(pelisto::kBrokerMaxName, u'n'),
             std::u16string(pelisto::kBrokerMaxText, u'\0')};  // a text may hold NULs
  std::string frame;
  ASSERT_EQ(pelisto::EncodeBrokerMessage(m, &frame), BrokerStatus::kOk);
  EXPECT_LE(frame.size(), pelisto::kBrokerMaxFrame);
  BrokerMessage got;
  ASSERT_EQ(pelisto::DecodeBrokerMessage(frame, &got), BrokerStatus::kOk);
  EXPECT_EQ(got, m);
}

TEST(BrokerProcessProtocol, EncoderRefusesWhatTheDecoderWould) {
  struct Case {
    BrokerMessage message;
    BrokerStatus status;
  };
  auto make = [](BrokerOp op, std::vector<std::u16string> texts,
                 std::vector<std::uint32_t> numbers) {
    BrokerMessage m;
    m.op = op;
    m.texts = std::move(texts);
    m.numbers = std::move(numbers);
    return m;
  };
  const Case cases[] = {
      {make(BrokerOp::kDeleteFile, {std::u16string(pelisto::kBrokerMaxPath + 1, u'a')}, {}),
       BrokerStatus::kPathTooLong},
      {make(BrokerOp::kRunProgram, {std::u16string(pelisto::kBrokerMaxName + 1, u'a')}, {}),
       BrokerStatus::kTextTooLong},
      {make(BrokerOp::kWriteText, {std::u16string(pelisto::kBrokerMaxText + 1, u'a')}, {1}),
       BrokerStatus::kTextTooLong},
      {make(BrokerOp::kDeleteFile, {std::u16string(u"C:\\a\0b", 6)}, {}), BrokerStatus::kBadText},
      {make(BrokerOp::kCopyFile, {u"C:\\a"}, {0}), BrokerStatus::kFieldMismatch},
      {make(BrokerOp::kCopyFile, {u"C:\\a", u"C:\\b"}, {}), BrokerStatus::kFieldMismatch},
      {make(BrokerOp::kCloseFile, {}, {1}), BrokerStatus::kFieldMismatch},
      {make(BrokerOp::kHello, {}, {1}), BrokerStatus::kUnknownType},
      {make(static_cast<BrokerOp>(40), {}, {}), BrokerStatus::kUnknownType},
  };
  for (const Case& c : cases) {
    std::string frame = "untouched";
    EXPECT_EQ(pelisto::EncodeBrokerMessage(c.message, &frame), c.status)
        << "operation " << static_cast<int>(c.message.op);
    EXPECT_EQ(frame, "untouched");
  }
}

// ---------------------------------------------------------------------------------------------
// A short, deterministic run of what the libFuzzer target does: random and mutated frames from
// a fixed seed. None may crash; a frame that is accepted must encode back byte for byte.

class Mutator {
 public:
  explicit Mutator(std::uint32_t seed) : rng_(seed) {}

  std::uint32_t Below(std::uint32_t n) { return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(rng_); }

  std::string ValidFrame() {
    BrokerMessage m;
    bool known = false;
    std::vector<BrokerField> fields;
    do {
      m.op = static_cast<BrokerOp>(Below(17));
      m.reply = Below(2) == 1;
      fields = pelisto::BrokerFields(m.op, m.reply, &known);
    } while (!known);
    m.id = Below(1000);
    for (BrokerField kind : fields) {
      if (kind == BrokerField::kNumber) {
        m.numbers.push_back(static_cast<std::uint32_t>(rng_()));
        continue;
      }
      std::u16string text(Below(40), u'a');
      for (char16_t& c : text) c = static_cast<char16_t>(1 + Below(0xFFFE));
      m.texts.push_back(text);
    }
    std::string frame;
    pelisto::EncodeBrokerMessage(m, &frame);
    return frame;
  }

  std::string Mutate(std::string frame) {
    const int steps = 1 + static_cast<int>(Below(4));
    for (int i = 0; i < steps && !frame.empty(); ++i) {
      const std::size_t at = Below(static_cast<std::uint32_t>(frame.size()));
      switch (Below(6)) {
        case 0: frame[at] = static_cast<char>(frame[at] ^ (1 << Below(8))); break;
        case 1: frame.resize(at); break;
        case 2: frame.insert(at, std::string(1 + Below(8), static_cast<char>(Below(256)))); break;
        case 3:  // a length-like value somewhere
          if (frame.size() >= at + 4) {
            const std::uint32_t values[] = {0, 1, 0xFFFFFFFF, 0x7FFFFFFF,
                                            static_cast<std::uint32_t>(pelisto::kBrokerMaxFrame)};
            std::uint32_t v = values[Below(5)];
            for (int b = 0; b < 4; ++b) frame[at + b] = static_cast<char>((v >> (8 * b)) & 0xFF);
          }
          break;
        case 4: frame.erase(at, 1 + Below(4)); break;
        default: frame += ValidFrame(); break;
      }
    }
    return frame;
  }

  std::string Random() {
    std::string bytes(Below(64), '\0');
    for (char& c : bytes) c = static_cast<char>(Below(256));
    return bytes;
  }

 private:
  std::mt19937 rng_;
};

TEST(BrokerProcessFuzz, DecoderSurvivesRandomAndMutatedFrames) {
  Mutator mutator(20240611);
  int accepted = 0, refused = 0;
  for (int i = 0; i < 6000; ++i) {
    std::string input;
    switch (i % 3) {
      case 0: input = mutator.ValidFrame(); break;
      case 1: input = mutator.Mutate(mutator.ValidFrame()); break;
      default: input = mutator.Random(); break;
    }
    BrokerMessage message;
    if (pelisto::DecodeBrokerMessage(input, &message) != BrokerStatus::kOk) {
      ++refused;
      continue;
    }
    ++accepted;
    std::string again;
    ASSERT_EQ(pelisto::EncodeBrokerMessage(message, &again), BrokerStatus::kOk) << "input " << i;
    ASSERT_EQ(again, input) << "input " << i << " decodes to something else";
  }
  // Both sides of the decoder were exercised, not just one.
  EXPECT_GT(accepted, 2000);
  EXPECT_GT(refused, 1500);
}

}  // namespace
