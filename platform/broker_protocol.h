// The framed protocol between the control's broker proxy and pelisto-broker.
//
// One frame, all numbers little-endian:
//   u32 size      the bytes that follow: at least the rest of the header, at most
//                 kBrokerMaxFrame - 4
//   u16 version   kBrokerProtocolVersion; any other is refused
//   u16 type      the operation (BrokerOp), with kBrokerReplyBit set on the broker's answer
//   u32 id        the request's number, repeated by its answer
//   fields        the operation's fields in order: a number is a u32; a text is a u32 count
//                 of UTF-16 units followed by the units
// The broker opens with a hello (a reply-direction frame, id 0, its process id); then each
// request gets one answer whose first field is the operation's HRESULT, followed by its out
// values. Out numbers also travel in the request, so that an operation that leaves one
// untouched hands the caller's own value back.
//
// Every text is bounded by its kind (BrokerField); paths and names may not hold a NUL. The
// decoder trusts nothing: each length is checked against its bound and the bytes present
// before it is used, and a frame with bytes left over is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelisto {

inline constexpr std::uint16_t kBrokerProtocolVersion = 1;
inline constexpr std::uint16_t kBrokerReplyBit = 0x8000;
// Bytes of a frame before its fields: size, version, type, id.
inline constexpr std::size_t kBrokerHeaderSize = 12;
// The hard cap of one frame, its size field included.
inline constexpr std::size_t kBrokerMaxFrame = std::size_t{4} << 20;
// Bounds of the text kinds, in UTF-16 units.
inline constexpr std::size_t kBrokerMaxPath = 1024;
inline constexpr std::size_t kBrokerMaxName = 4096;
inline constexpr std::size_t kBrokerMaxText = std::size_t{1} << 20;

// The operations, in the order IFileManager declares them.
enum class BrokerOp : std::uint16_t {
  kHello = 0,
  kCloseFile,
  kOpenFile,
  kQueryOpenFile,
  kWriteText,
  kCopyFile,
  kCreateDirectory,
  kMoveFile,
  kDeleteFile,
  kRunProgram,
  kCreateShellLink,
  kCreateInternetShortcut,
  kRegisterComponent,
  kWriteRegString,
  kReadRegString,
  kWriteRegNumber,
  kUnregisterComponent,
  kAppendText,
};
// One past the last operation's number: the first that names none.
inline constexpr std::uint16_t kBrokerOpCount = static_cast<std::uint16_t>(BrokerOp::kAppendText) + 1;

enum class BrokerField : std::uint8_t {
  kNumber,
  kPath,  // up to kBrokerMaxPath units, no NUL
  kName,  // up to kBrokerMaxName units, no NUL: modes, addresses, descriptions, registry names
  kText,  // up to kBrokerMaxText units: file text and registry values
};

// A decoded frame. `texts` and `numbers` hold the operation's text and number fields, each in
// the order the operation lists them.
struct BrokerMessage {
  BrokerOp op = BrokerOp::kHello;
  bool reply = false;
  std::uint32_t id = 0;
  std::vector<std::u16string> texts;
  std::vector<std::uint32_t> numbers;

  bool operator==(const BrokerMessage&) const = default;
};

enum class BrokerStatus {
  kOk,
  kTruncated,      // fewer bytes than the header or a field says
  kOversized,      // a frame over kBrokerMaxFrame
  kBadVersion,
  kUnknownType,    // no such operation, or not in that direction
  kPathTooLong,    // a path over kBrokerMaxPath
  kTextTooLong,    // a name or text over its bound
  kBadText,        // a NUL in a path or name
  kTrailingBytes,  // bytes after the last field
  kFieldMismatch,  // (encoding) the fields given do not match the operation's
};

// A short English description, for logs.
const char* BrokerStatusText(BrokerStatus status);

// The fields of `op` in one direction; empty, with *known false, for a direction the
// operation does not have (a hello request).
std::vector<BrokerField> BrokerFields(BrokerOp op, bool reply, bool* known = nullptr);

// Encodes `message` into `*frame` (replacing its content). Any status but kOk leaves `*frame`
// untouched: a field over its bound, a NUL in a path or name, or fields that do not match.
BrokerStatus EncodeBrokerMessage(const BrokerMessage& message, std::string* frame);

// Reads the 4-byte size field at the start of `prefix`: on kOk `*rest` is the number of bytes
// that follow it. kTruncated for fewer than 4 bytes or a size below the header's;
// kOversized for a frame over the cap.
BrokerStatus DecodeBrokerFrameSize(std::string_view prefix, std::uint32_t* rest);

// Decodes one whole frame, its size field included. `*message` is set only on kOk.
BrokerStatus DecodeBrokerMessage(std::string_view frame, BrokerMessage* message);

}  // namespace pelisto
