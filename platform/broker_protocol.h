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

// The operations, one row each, in the order IFileManager declares them: the operation's
// number on the wire, the IFileManager method it calls, and the kinds (BrokerField) of the
// method's text parameters in order. Everything else follows from the method's parameter
// types (platform/broker_operations.h): a number travels as a number, an out number also
// travels back, an out text travels only back. From the rows come the enumeration below,
// the decoder's and encoder's fields, the proxy's calls and the broker's dispatch.
//
// A new operation is a row at the end (the next number), its method at the end of
// IFileManager and its implementation in InProcessBroker (platform/file_manager.cpp). The
// numbers are the wire format: a row is never renumbered or removed.
#define PELISTO_BROKER_OPERATIONS(X)                        \
  X(1, CloseFile)                                           \
  X(2, OpenFile, kPath, kName)                              \
  X(3, QueryOpenFile)                                       \
  X(4, WriteText, kText)                                    \
  X(5, CopyFile, kPath, kPath)                              \
  X(6, CreateDirectory, kPath)                              \
  X(7, MoveFile, kPath, kPath)                              \
  X(8, DeleteFile, kPath)                                   \
  X(9, RunProgram, kName)                                   \
  X(10, CreateShellLink, kPath, kPath, kName, kPath, kName) \
  X(11, CreateInternetShortcut, kName, kPath, kName, kPath) \
  X(12, RegisterComponent, kPath)                           \
  X(13, WriteRegString, kName, kName, kText)                \
  X(14, ReadRegString, kName, kName, kText)                 \
  X(15, WriteRegNumber, kName, kName)                       \
  X(16, UnregisterComponent, kPath)                         \
  X(17, AppendText, kPath, kText)                          \
  X(18, MoveFileReplacing, kPath, kPath)

enum class BrokerOp : std::uint16_t {
  kHello = 0,  // the broker's greeting when it starts; an answer without a request
#define PELISTO_BROKER_OP_ENUMERATOR(number, method, ...) k##method = number,
  PELISTO_BROKER_OPERATIONS(PELISTO_BROKER_OP_ENUMERATOR)
#undef PELISTO_BROKER_OP_ENUMERATOR
};

// One past the last operation's number: the first that names none.
#define PELISTO_BROKER_OP_ONE(number, method, ...) +1
inline constexpr std::uint16_t kBrokerOpCount = 1 PELISTO_BROKER_OPERATIONS(PELISTO_BROKER_OP_ONE);
#undef PELISTO_BROKER_OP_ONE

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
