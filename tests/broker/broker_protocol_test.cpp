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
using S = pelisto::BrokerStatus;

std::string U16(std::uint16_t v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
std::string U32(std::uint32_t v) { return U16(v & 0xFFFF) + U16(static_cast<std::uint16_t>(v >> 16)); }
std::string Text(std::u16string_view text) {
  std::string out = U32(static_cast<std::uint32_t>(text.size()));
  for (char16_t c : text) out += U16(c);
  return out;
}

// A frame of `type` whose size field counts what follows it.
std::string Frame(std::uint16_t type, const std::string& fields,
                  std::uint16_t version = pelisto::kBrokerProtocolVersion) {
  std::string body = U16(version) + U16(type) + U32(7) + fields;
  return U32(static_cast<std::uint32_t>(body.size())) + body;
}

constexpr std::uint16_t kDelete = static_cast<std::uint16_t>(BrokerOp::kDeleteFile);

struct BadFrame {
  const char* name;
  std::string bytes;
  S status;
};

void PrintTo(const BadFrame& f, std::ostream* out) { *out << f.name; }

class BrokerProcessProtocolBadFrames : public ::testing::TestWithParam<BadFrame> {};

TEST_P(BrokerProcessProtocolBadFrames, AreRefusedAndLeaveTheMessageAlone) {
  BrokerMessage message;
  message.id = 42;
  EXPECT_EQ(pelisto::DecodeBrokerMessage(GetParam().bytes, &message), GetParam().status);
  EXPECT_EQ(message.id, 42u);
}

const std::string kDeleteA = Frame(kDelete, Text(u"C:\\a"));

INSTANTIATE_TEST_SUITE_P(
    Frames, BrokerProcessProtocolBadFrames,
    ::testing::Values(
        BadFrame{"Empty", "", S::kTruncated},
        BadFrame{"SizeBelowHeader", U32(7) + std::string(7, '\0'), S::kTruncated},
        BadFrame{"SizeAtUInt32Max", U32(0xFFFFFFFF), S::kOversized},
        BadFrame{"OneOverCap", U32(static_cast<std::uint32_t>(pelisto::kBrokerMaxFrame - 3)),
                 S::kOversized},
        BadFrame{"BodyShorterThanSize", kDeleteA.substr(0, kDeleteA.size() - 1), S::kTruncated},
        BadFrame{"BytesAfterFrame", kDeleteA + "x", S::kTrailingBytes},
        BadFrame{"BytesAfterLastField", Frame(kDelete, Text(u"C:\\a") + U16(0)), S::kTrailingBytes},
        BadFrame{"NextVersion", Frame(kDelete, Text(u"C:\\a"), 2), S::kBadVersion},
        BadFrame{"UnknownOperation", Frame(pelisto::kBrokerOpCount, ""), S::kUnknownType},
        BadFrame{"HelloAsRequest", Frame(0, U32(1)), S::kUnknownType},
        // Bounds are checked before the bytes are looked for, so no arithmetic can overflow.
        BadFrame{"PathCountHuge", Frame(kDelete, U32(0xFFFFFFFF)), S::kPathTooLong},
        BadFrame{"TextCountOverBound",
                 Frame(static_cast<std::uint16_t>(BrokerOp::kWriteText),
                       U32(pelisto::kBrokerMaxText + 1)),
                 S::kTextTooLong},
        BadFrame{"TextBeyondFrame", Frame(kDelete, U32(5) + U16('C')), S::kTruncated},
        BadFrame{"MissingNumber",
                 Frame(static_cast<std::uint16_t>(BrokerOp::kCopyFile), Text(u"C:\\a") + Text(u"C:\\b")),
                 S::kTruncated},
        BadFrame{"NulInPath", Frame(kDelete, Text(std::u16string(u"C:\\a\0b", 6))), S::kBadText}),
    [](const auto& info) { return std::string(info.param.name); });

// A message of `op` with every field filled, valid for its bounds.
BrokerMessage Sample(BrokerOp op, bool reply) {
  BrokerMessage m{op, reply, reply && op == BrokerOp::kHello ? 0u : 9u, {}, {}};
  for (BrokerField kind : pelisto::BrokerFields(op, reply)) {
    if (kind == BrokerField::kNumber) {
      m.numbers.push_back(0x80070005u + static_cast<std::uint32_t>(m.numbers.size()));
    } else {
      m.texts.push_back(u"C:\\Program Files\\\uD55C\uAE00\\" + std::u16string(m.texts.size(), u'x'));
    }
  }
  return m;
}

TEST(BrokerProcessProtocol, EveryOperationRoundTripsInBothDirections) {
  for (int op = 0; op < pelisto::kBrokerOpCount; ++op) {
    for (bool reply : {false, true}) {
      bool known = false;
      pelisto::BrokerFields(static_cast<BrokerOp>(op), reply, &known);
      if (!known) continue;
      const BrokerMessage sent = Sample(static_cast<BrokerOp>(op), reply);
      std::string frame;
      BrokerMessage got;
      ASSERT_EQ(pelisto::EncodeBrokerMessage(sent, &frame), S::kOk) << op;
      ASSERT_EQ(pelisto::DecodeBrokerMessage(frame, &got), S::kOk) << op;
      EXPECT_EQ(got, sent) << "operation " << op << (reply ? " answer" : " request");
    }
  }
  // The largest request still fits the hard cap; texts (unlike names) may hold NULs.
  BrokerMessage big{BrokerOp::kWriteRegString, false, 1, {}, {0x80000002}};
  big.texts = {std::u16string(pelisto::kBrokerMaxName, u'k'),
               std::u16string(pelisto::kBrokerMaxName, u'n'),
               std::u16string(pelisto::kBrokerMaxText, u'\0')};
  std::string frame;
  BrokerMessage got;
  ASSERT_EQ(pelisto::EncodeBrokerMessage(big, &frame), S::kOk);
  EXPECT_LE(frame.size(), pelisto::kBrokerMaxFrame);
  ASSERT_EQ(pelisto::DecodeBrokerMessage(frame, &got), S::kOk);
  EXPECT_TRUE(got == big);
}

// The fields each operation carries are the wire format: derived from the rows, they must
// stay what the broker and its callers have always exchanged.
TEST(BrokerProcessProtocol, FieldsOfEveryOperationAreTheWireFormat) {
  using F = BrokerField;
  constexpr F N = F::kNumber, P = F::kPath, M = F::kName, T = F::kText;
  using Fields = std::vector<BrokerField>;
  const std::vector<std::pair<Fields, Fields>> expected = {
      {{}, {N}},                                  // hello (an answer only)
      {{}, {N}},                                  // close file
      {{P, M, N}, {N, N}},                        // open file
      {{N}, {N, N}},                              // query the open file
      {{T, N}, {N}},                              // write text
      {{P, P, N}, {N}},                           // copy file
      {{P, N}, {N, N}},                           // create directory
      {{P, P}, {N}},                              // move file
      {{P}, {N}},                                 // delete file
      {{M}, {N}},                                 // run program
      {{P, P, M, P, M, N}, {N, N}},               // shell link
      {{M, P, M, P, N, N}, {N, N}},               // Internet shortcut
      {{P}, {N}},                                 // register
      {{N, M, M, T}, {N}},                        // write registry text
      {{N, M, M}, {N, T}},                        // read registry text
      {{N, M, M, N}, {N}},                        // write registry number
      {{P}, {N}},                                 // unregister
      {{P, T}, {N}},                              // append text
      {{P, P}, {N}},                              // replacing move
  };
  ASSERT_EQ(expected.size(), pelisto::kBrokerOpCount);
  for (std::size_t op = 0; op < expected.size(); ++op) {
    bool request_known = false;
    const Fields request = pelisto::BrokerFields(static_cast<BrokerOp>(op), false, &request_known);
    EXPECT_EQ(request_known, op != 0) << "operation " << op;
    EXPECT_EQ(request, expected[op].first) << "request of operation " << op;
    EXPECT_EQ(pelisto::BrokerFields(static_cast<BrokerOp>(op), true), expected[op].second)
        << "answer of operation " << op;
  }
}

TEST(BrokerProcessProtocol, EncoderRefusesWhatTheDecoderWould) {
  const std::pair<BrokerMessage, S> cases[] = {
      {{BrokerOp::kDeleteFile, false, 1, {std::u16string(pelisto::kBrokerMaxPath + 1, u'a')}, {}},
       S::kPathTooLong},
      {{BrokerOp::kRunProgram, false, 1, {std::u16string(pelisto::kBrokerMaxName + 1, u'a')}, {}},
       S::kTextTooLong},
      {{BrokerOp::kDeleteFile, false, 1, {std::u16string(u"C:\\a\0b", 6)}, {}}, S::kBadText},
      {{BrokerOp::kCopyFile, false, 1, {u"C:\\a"}, {0}}, S::kFieldMismatch},
      {{BrokerOp::kHello, false, 1, {}, {1}}, S::kUnknownType},
  };
  for (const auto& [message, status] : cases) {
    std::string frame = "untouched";
    EXPECT_EQ(pelisto::EncodeBrokerMessage(message, &frame), status)
        << "operation " << static_cast<int>(message.op);
    EXPECT_EQ(frame, "untouched");
  }
}

// A short, deterministic run of what the libFuzzer target does: random and mutated frames from
// a fixed seed. None may crash; a frame the decoder accepts must encode back byte for byte.
TEST(BrokerProcessFuzz, DecoderSurvivesRandomAndMutatedFrames) {
  std::mt19937 rng(20240611);
  auto below = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
  auto valid = [&] {
    BrokerMessage m;
    bool known = false;
    do {
      m = Sample(static_cast<BrokerOp>(below(pelisto::kBrokerOpCount)), below(2) == 1);
      pelisto::BrokerFields(m.op, m.reply, &known);
    } while (!known);
    for (std::u16string& t : m.texts) t.resize(below(40), static_cast<char16_t>(1 + below(0xFFFE)));
    std::string frame;
    pelisto::EncodeBrokerMessage(m, &frame);
    return frame;
  };
  int accepted = 0, refused = 0;
  for (int i = 0; i < 6000; ++i) {
    std::string input = valid();
    if (i % 3 == 1) {  // mutated: flipped bits, cuts, insertions, length-like values
      for (std::size_t step = 0, steps = 1 + below(4); step < steps && !input.empty(); ++step) {
        const std::size_t at = below(input.size());
        switch (below(4)) {
          case 0: input[at] = static_cast<char>(input[at] ^ (1 << below(8))); break;
          case 1: input.resize(at); break;
          case 2: input.insert(at, std::string(1 + below(8), static_cast<char>(below(256)))); break;
          default: input.replace(at, 4, U32(below(2) ? 0xFFFFFFFF : static_cast<std::uint32_t>(below(5000))));
        }
      }
    } else if (i % 3 == 2) {  // random bytes
      for (char& c : input) c = static_cast<char>(below(256));
    }
    BrokerMessage message;
    if (pelisto::DecodeBrokerMessage(input, &message) != S::kOk) {
      ++refused;
      continue;
    }
    ++accepted;
    std::string again;
    ASSERT_EQ(pelisto::EncodeBrokerMessage(message, &again), S::kOk) << "input " << i;
    ASSERT_EQ(again, input) << "input " << i << " decodes to something else";
  }
  EXPECT_GE(accepted, 2000);
  EXPECT_GT(refused, 2000);
}

}  // namespace
