#include "platform/broker_protocol.h"

#include <array>
#include <span>
#include <utility>

#include "platform/broker_operations.h"

namespace pelisto {
namespace {

using F = BrokerField;

struct OpSchema {
  BrokerFieldList request;
  BrokerFieldList reply;
};

// Indexed by BrokerOp, from the rows.
constexpr auto kSchemas = []<std::size_t... I>(std::index_sequence<I...>) {
  return std::array<OpSchema, sizeof...(I)>{
      OpSchema{std::tuple_element_t<I, BrokerOperations>::kRequest,
               std::tuple_element_t<I, BrokerOperations>::kReply}...};
}(std::make_index_sequence<kBrokerOpCount>());

std::span<const BrokerField> Fields(const BrokerFieldList& list) {
  return {list.kinds.data(), list.count};
}

const BrokerFieldList* FindDirection(std::uint16_t op, bool reply) {
  if (op >= kSchemas.size()) return nullptr;
  const OpSchema& schema = kSchemas[op];
  const BrokerFieldList& d = reply ? schema.reply : schema.request;
  return d.known ? &d : nullptr;
}

std::size_t Bound(BrokerField kind) {
  switch (kind) {
    case F::kPath: return kBrokerMaxPath;
    case F::kName: return kBrokerMaxName;
    case F::kText: return kBrokerMaxText;
    case F::kNumber: break;
  }
  return 0;
}

BrokerStatus TooLong(BrokerField kind) {
  return kind == F::kPath ? BrokerStatus::kPathTooLong : BrokerStatus::kTextTooLong;
}

BrokerStatus CheckText(BrokerField kind, std::u16string_view text) {
  if (text.size() > Bound(kind)) return TooLong(kind);
  if (kind != F::kText && text.find(u'\0') != std::u16string_view::npos) {
    return BrokerStatus::kBadText;
  }
  return BrokerStatus::kOk;
}

void PutU16(std::string* out, std::uint16_t v) {
  out->push_back(static_cast<char>(v & 0xFF));
  out->push_back(static_cast<char>(v >> 8));
}

void PutU32(std::string* out, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<char>((v >> shift) & 0xFF));
}

// Reads little-endian values from a frame; every read checks the bytes left first.
class Reader {
 public:
  explicit Reader(std::string_view data) : data_(data) {}

  std::size_t left() const { return data_.size() - pos_; }

  bool U16(std::uint16_t* v) {
    if (left() < 2) return false;
    *v = static_cast<std::uint16_t>(Byte(0) | (Byte(1) << 8));
    pos_ += 2;
    return true;
  }

  bool U32(std::uint32_t* v) {
    if (left() < 4) return false;
    *v = Byte(0) | (Byte(1) << 8) | (Byte(2) << 16) | (Byte(3) << 24);
    pos_ += 4;
    return true;
  }

  BrokerStatus Text(BrokerField kind, std::u16string* text) {
    std::uint32_t units = 0;
    if (!U32(&units)) return BrokerStatus::kTruncated;
    // The bound first: it keeps the byte count below from overflowing.
    if (units > Bound(kind)) return TooLong(kind);
    if (left() / 2 < units) return BrokerStatus::kTruncated;
    text->resize(units);
    for (std::uint32_t i = 0; i < units; ++i) {
      (*text)[i] = static_cast<char16_t>(Byte(0) | (Byte(1) << 8));
      pos_ += 2;
    }
    return CheckText(kind, *text);
  }

 private:
  std::uint32_t Byte(std::size_t at) const {
    return static_cast<unsigned char>(data_[pos_ + at]);
  }

  std::string_view data_;
  std::size_t pos_ = 0;
};

}  // namespace

std::size_t broker_detail::BrokerFieldBound(BrokerField kind) { return Bound(kind); }

const char* BrokerStatusText(BrokerStatus status) {
  switch (status) {
    case BrokerStatus::kOk: return "ok";
    case BrokerStatus::kTruncated: return "truncated frame";
    case BrokerStatus::kOversized: return "frame over the size limit";
    case BrokerStatus::kBadVersion: return "unknown protocol version";
    case BrokerStatus::kUnknownType: return "unknown frame type";
    case BrokerStatus::kPathTooLong: return "path over the length limit";
    case BrokerStatus::kTextTooLong: return "text over the length limit";
    case BrokerStatus::kBadText: return "NUL in a path or name";
    case BrokerStatus::kTrailingBytes: return "bytes after the last field";
    case BrokerStatus::kFieldMismatch: return "fields do not match the operation";
  }
  return "unknown status";
}

std::vector<BrokerField> BrokerFields(BrokerOp op, bool reply, bool* known) {
  const BrokerFieldList* d = FindDirection(static_cast<std::uint16_t>(op), reply);
  if (known != nullptr) *known = d != nullptr;
  if (d == nullptr) return {};
  return std::vector<BrokerField>(Fields(*d).begin(), Fields(*d).end());
}

BrokerStatus EncodeBrokerMessage(const BrokerMessage& message, std::string* frame) {
  const BrokerFieldList* d = FindDirection(static_cast<std::uint16_t>(message.op), message.reply);
  if (d == nullptr) return BrokerStatus::kUnknownType;
  std::size_t texts = 0, numbers = 0;
  for (BrokerField kind : Fields(*d)) {
    if (kind == F::kNumber) {
      ++numbers;
      continue;
    }
    if (texts >= message.texts.size()) return BrokerStatus::kFieldMismatch;
    if (BrokerStatus s = CheckText(kind, message.texts[texts++]); s != BrokerStatus::kOk) {
      return s;
    }
  }
  if (texts != message.texts.size() || numbers != message.numbers.size()) {
    return BrokerStatus::kFieldMismatch;
  }

  std::string out;
  PutU32(&out, 0);  // the size, filled in below
  PutU16(&out, kBrokerProtocolVersion);
  PutU16(&out, static_cast<std::uint16_t>(static_cast<std::uint16_t>(message.op) |
                                          (message.reply ? kBrokerReplyBit : 0)));
  PutU32(&out, message.id);
  texts = numbers = 0;
  for (BrokerField kind : Fields(*d)) {
    if (kind == F::kNumber) {
      PutU32(&out, message.numbers[numbers++]);
      continue;
    }
    const std::u16string& text = message.texts[texts++];
    PutU32(&out, static_cast<std::uint32_t>(text.size()));
    for (char16_t unit : text) PutU16(&out, static_cast<std::uint16_t>(unit));
  }
  // Cannot happen with the bounds above; checked so that a change of bounds cannot slip by.
  if (out.size() > kBrokerMaxFrame) return BrokerStatus::kOversized;
  const auto rest = static_cast<std::uint32_t>(out.size() - 4);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((rest >> (8 * i)) & 0xFF);
  *frame = std::move(out);
  return BrokerStatus::kOk;
}

BrokerStatus DecodeBrokerFrameSize(std::string_view prefix, std::uint32_t* rest) {
  Reader reader(prefix);
  std::uint32_t size = 0;
  if (!reader.U32(&size)) return BrokerStatus::kTruncated;
  if (size > kBrokerMaxFrame - 4) return BrokerStatus::kOversized;
  if (size < kBrokerHeaderSize - 4) return BrokerStatus::kTruncated;
  *rest = size;
  return BrokerStatus::kOk;
}

BrokerStatus DecodeBrokerMessage(std::string_view frame, BrokerMessage* message) {
  std::uint32_t rest = 0;
  if (BrokerStatus s = DecodeBrokerFrameSize(frame, &rest); s != BrokerStatus::kOk) return s;
  if (frame.size() - 4 < rest) return BrokerStatus::kTruncated;
  if (frame.size() - 4 > rest) return BrokerStatus::kTrailingBytes;

  Reader reader(frame.substr(4));
  std::uint16_t version = 0, type = 0;
  BrokerMessage decoded;
  reader.U16(&version);
  reader.U16(&type);
  reader.U32(&decoded.id);  // the size check above guarantees the header is there
  if (version != kBrokerProtocolVersion) return BrokerStatus::kBadVersion;
  decoded.reply = (type & kBrokerReplyBit) != 0;
  const std::uint16_t op = type & static_cast<std::uint16_t>(~kBrokerReplyBit);
  const BrokerFieldList* d = FindDirection(op, decoded.reply);
  if (d == nullptr) return BrokerStatus::kUnknownType;
  decoded.op = static_cast<BrokerOp>(op);

  for (BrokerField kind : Fields(*d)) {
    if (kind == F::kNumber) {
      std::uint32_t value = 0;
      if (!reader.U32(&value)) return BrokerStatus::kTruncated;
      decoded.numbers.push_back(value);
      continue;
    }
    std::u16string text;
    if (BrokerStatus s = reader.Text(kind, &text); s != BrokerStatus::kOk) return s;
    decoded.texts.push_back(std::move(text));
  }
  if (reader.left() != 0) return BrokerStatus::kTrailingBytes;
  *message = std::move(decoded);
  return BrokerStatus::kOk;
}

}  // namespace pelisto
