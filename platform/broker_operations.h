// What each row of PELISTO_BROKER_OPERATIONS (platform/broker_protocol.h) gives: the fields
// of its request and its answer, the request a call makes, what the answer hands back to the
// caller, and the broker's call of the method. All of it is derived from the row's
// IFileManager method at compile time, so the wire, the proxy and the broker's dispatch
// cannot disagree: a row whose kinds do not match its method's texts, or a method with a
// parameter the protocol cannot carry, does not compile.
//
// Parameter types and how they travel:
//   const std::u16string&   a text of the row's kind, in the request
//   std::u16string*         a text of the row's kind, in the answer only (empty on failure)
//   os::LONG, os::ULONG     a number, in the request
//   os::LONG*               a number in the request (the caller's value) and in the answer
// The answer's first field is the operation's HRESULT; the out values follow in order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "os/base/error.h"
#include "os/com/hresult.h"
#include "platform/broker_protocol.h"
#include "platform/file_manager.h"

namespace pelisto {

// The fields of one direction of an operation; `known` false for a direction it lacks.
struct BrokerFieldList {
  static constexpr std::size_t kMaxFields = 6;
  bool known = false;
  std::size_t count = 0;
  std::array<BrokerField, kMaxFields> kinds{};
};

namespace broker_detail {

enum class Role { kInText, kOutText, kInNumber, kOutNumber };

// A parameter type the protocol cannot carry has no role, and its row does not compile.
template <class T>
struct RoleOf;
template <>
struct RoleOf<const std::u16string&> : std::integral_constant<Role, Role::kInText> {};
template <>
struct RoleOf<std::u16string*> : std::integral_constant<Role, Role::kOutText> {};
template <>
struct RoleOf<std::int32_t> : std::integral_constant<Role, Role::kInNumber> {};
template <>
struct RoleOf<std::uint32_t> : std::integral_constant<Role, Role::kInNumber> {};
template <>
struct RoleOf<std::int32_t*> : std::integral_constant<Role, Role::kOutNumber> {};

constexpr bool IsText(Role r) { return r == Role::kInText || r == Role::kOutText; }
constexpr bool IsInText(Role r) { return r == Role::kInText; }
constexpr bool IsNumber(Role r) { return r == Role::kInNumber || r == Role::kOutNumber; }

// How many of the first `end` roles satisfy `test`.
template <std::size_t N>
constexpr std::size_t CountBefore(const std::array<Role, N>& roles, std::size_t end,
                                  bool (*test)(Role)) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < end; ++i) n += test(roles[i]) ? 1 : 0;
  return n;
}

template <class Method>
struct Signature;
template <class... Args>
struct Signature<os::HRESULT (IFileManager::*)(Args...)> {
  using Params = std::tuple<Args...>;
  using DecayedParams = std::tuple<std::decay_t<Args>...>;
  static constexpr std::size_t kCount = sizeof...(Args);
  static constexpr std::array<Role, kCount> kRoles{RoleOf<Args>::value...};
  // Among the first `end` parameters: the texts (in and out), the in texts, the numbers.
  static constexpr std::size_t Texts(std::size_t end = kCount) {
    return CountBefore(kRoles, end, IsText);
  }
  static constexpr std::size_t InTexts(std::size_t end = kCount) {
    return CountBefore(kRoles, end, IsInText);
  }
  static constexpr std::size_t Numbers(std::size_t end = kCount) {
    return CountBefore(kRoles, end, IsNumber);
  }
};

// What the broker keeps of one parameter while it calls the method.
template <class T, Role R = RoleOf<T>::value>
struct Slot;
template <class T>
struct Slot<T, Role::kInText> {
  const std::u16string* text;
  const std::u16string& Pass() { return *text; }
};
template <class T>
struct Slot<T, Role::kOutText> {
  std::u16string text;
  std::u16string* Pass() { return &text; }
};
template <class T>
struct Slot<T, Role::kInNumber> {
  T number;
  T Pass() { return number; }
};
template <class T>
struct Slot<T, Role::kOutNumber> {
  std::int32_t number;
  std::int32_t* Pass() { return &number; }
};

std::size_t BrokerFieldBound(BrokerField kind);

}  // namespace broker_detail

// One operation: its number, the IFileManager method it calls and the kinds of that
// method's text parameters, in order.
template <BrokerOp Op, auto Method, BrokerField... TextKinds>
struct BrokerOperation {
  using Sig = broker_detail::Signature<decltype(Method)>;
  using Params = typename Sig::Params;
  using Role = broker_detail::Role;
  static constexpr BrokerOp kOp = Op;
  static constexpr std::size_t kParams = Sig::kCount;
  static constexpr std::array<BrokerField, sizeof...(TextKinds)> kTextKinds{TextKinds...};

  static_assert(Sig::Texts() == sizeof...(TextKinds),
                "a row names one kind for each text parameter of its method");
  static_assert(((TextKinds != BrokerField::kNumber) && ...), "a text's kind is a text kind");

  static constexpr BrokerFieldList kRequest = [] {
    BrokerFieldList list{true, 0, {}};
    for (std::size_t i = 0; i < kParams; ++i) {
      const Role role = Sig::kRoles[i];
      if (role == Role::kOutText) continue;
      list.kinds[list.count++] = broker_detail::IsNumber(role)
                                     ? BrokerField::kNumber
                                     : kTextKinds[Sig::Texts(i)];
    }
    return list;
  }();
  static constexpr BrokerFieldList kReply = [] {
    BrokerFieldList list{true, 1, {BrokerField::kNumber}};
    for (std::size_t i = 0; i < kParams; ++i) {
      const Role role = Sig::kRoles[i];
      if (role == Role::kOutNumber) list.kinds[list.count++] = BrokerField::kNumber;
      if (role == Role::kOutText) {
        list.kinds[list.count++] = kTextKinds[Sig::Texts(i)];
      }
    }
    return list;
  }();
  static_assert(kRequest.count <= BrokerFieldList::kMaxFields &&
                kReply.count <= BrokerFieldList::kMaxFields);

  // The caller's side: true when an out pointer is null (the call is refused with E_POINTER,
  // as the implementation itself would).
  template <class... Args>
  static bool HasNullOut(Args&&... args) {
    static_assert(std::is_same_v<std::tuple<std::decay_t<Args>...>, typename Sig::DecayedParams>,
                  "the call's arguments are the method's");
    bool null = false;
    ((null = null || IsNullOut(args)), ...);
    return null;
  }

  // The request for a call with `args`.
  template <class... Args>
  static BrokerMessage Request(Args&&... args) {
    static_assert(std::is_same_v<std::tuple<std::decay_t<Args>...>, typename Sig::DecayedParams>,
                  "the call's arguments are the method's");
    BrokerMessage m;
    m.op = Op;
    (Put(&m, args), ...);
    return m;
  }

  // Hands the answer's out values to the caller: numbers whatever the result, texts only on
  // success, as the implementation leaves them.
  template <class... Args>
  static void TakeReply(const BrokerMessage& reply, Args&&... args) {
    static_assert(std::is_same_v<std::tuple<std::decay_t<Args>...>, typename Sig::DecayedParams>,
                  "the call's arguments are the method's");
    [[maybe_unused]] const bool succeeded =
        os::SUCCEEDED(static_cast<os::HRESULT>(reply.numbers[0]));
    [[maybe_unused]] std::size_t number = 1, text = 0;
    (Take(reply, succeeded, &number, &text, args), ...);
  }

  // The broker's side: calls the method with the request's fields and answers with its
  // result and out values. An out text over its bound is refused whole
  // (ERROR_MORE_DATA): the caller gets none of it rather than a part.
  static BrokerMessage Answer(IFileManager& files, const BrokerMessage& request) {
    return AnswerWith(files, request, std::make_index_sequence<kParams>());
  }

 private:
  static bool IsNullOut(const std::u16string&) { return false; }
  static bool IsNullOut(std::int32_t) { return false; }
  static bool IsNullOut(std::uint32_t) { return false; }
  static bool IsNullOut(std::int32_t* p) { return p == nullptr; }
  static bool IsNullOut(std::u16string* p) { return p == nullptr; }

  static void Put(BrokerMessage* m, const std::u16string& text) { m->texts.push_back(text); }
  static void Put(BrokerMessage*, std::u16string*) {}
  static void Put(BrokerMessage* m, std::int32_t n) {
    m->numbers.push_back(static_cast<std::uint32_t>(n));
  }
  static void Put(BrokerMessage* m, std::uint32_t n) { m->numbers.push_back(n); }
  static void Put(BrokerMessage* m, std::int32_t* n) {
    m->numbers.push_back(static_cast<std::uint32_t>(*n));
  }

  template <class T>
  static void Take(const BrokerMessage&, bool, std::size_t*, std::size_t*, const T&) {}
  static void Take(const BrokerMessage& reply, bool, std::size_t* number, std::size_t*,
                   std::int32_t* out) {
    *out = static_cast<std::int32_t>(reply.numbers[(*number)++]);
  }
  static void Take(const BrokerMessage& reply, bool succeeded, std::size_t*, std::size_t* text,
                   std::u16string* out) {
    const std::u16string& value = reply.texts[(*text)++];
    if (succeeded) *out = value;
  }

  template <std::size_t I>
  using SlotOf = broker_detail::Slot<std::tuple_element_t<I, Params>>;

  template <std::size_t I>
  static SlotOf<I> Load(const BrokerMessage& request) {
    using T = std::tuple_element_t<I, Params>;
    constexpr Role role = Sig::kRoles[I];
    if constexpr (role == Role::kInText) {
      return {&request.texts[Sig::InTexts(I)]};
    } else if constexpr (role == Role::kOutText) {
      return {};
    } else if constexpr (role == Role::kInNumber) {
      return {static_cast<T>(request.numbers[Sig::Numbers(I)])};
    } else {
      return {static_cast<std::int32_t>(request.numbers[Sig::Numbers(I)])};
    }
  }

  template <std::size_t... I>
  static BrokerMessage AnswerWith(IFileManager& files, const BrokerMessage& request,
                                  std::index_sequence<I...>) {
    BrokerMessage reply;
    reply.op = Op;
    reply.reply = true;
    reply.id = request.id;
    std::tuple<SlotOf<I>...> slots;
    os::HRESULT hr = os::E_INVALIDARG;
    // The decoder has matched the fields to the row; a request made otherwise may not.
    if (request.texts.size() == Sig::InTexts() &&
        request.numbers.size() == Sig::Numbers()) {
      slots = std::tuple<SlotOf<I>...>{Load<I>(request)...};
      hr = (files.*Method)(std::get<I>(slots).Pass()...);
    }
    bool too_long = false;
    (CheckBound<I>(std::get<I>(slots), &too_long), ...);
    if (too_long) hr = os::HRESULT_FROM_WIN32(os::ERROR_MORE_DATA);
    reply.numbers.push_back(static_cast<std::uint32_t>(hr));
    (Give<I>(std::get<I>(slots), os::SUCCEEDED(hr), &reply), ...);
    return reply;
  }

  template <std::size_t I, class S>
  static void CheckBound(const S& slot, bool* too_long) {
    if constexpr (Sig::kRoles[I] == Role::kOutText) {
      const BrokerField kind = kTextKinds[Sig::Texts(I)];
      if (slot.text.size() > broker_detail::BrokerFieldBound(kind)) *too_long = true;
    }
  }

  template <std::size_t I, class S>
  static void Give(S& slot, bool succeeded, BrokerMessage* reply) {
    if constexpr (Sig::kRoles[I] == Role::kOutNumber) {
      reply->numbers.push_back(static_cast<std::uint32_t>(slot.number));
    } else if constexpr (Sig::kRoles[I] == Role::kOutText) {
      reply->texts.push_back(succeeded ? std::move(slot.text) : std::u16string());
    }
  }
};

// The broker's greeting: no request, an answer with the broker's process id.
struct BrokerHello {
  static constexpr BrokerOp kOp = BrokerOp::kHello;
  static constexpr BrokerFieldList kRequest{};
  static constexpr BrokerFieldList kReply{true, 1, {BrokerField::kNumber}};
  // Not a request anyone may make: answered as unexpected.
  static BrokerMessage Answer(IFileManager&, const BrokerMessage& request) {
    BrokerMessage reply;
    reply.op = BrokerOp::kHello;
    reply.reply = true;
    reply.id = request.id;
    reply.numbers = {static_cast<std::uint32_t>(os::E_UNEXPECTED)};
    return reply;
  }
};

namespace broker_detail {
using enum BrokerField;
#define PELISTO_BROKER_ROW(number, method, ...) \
  , BrokerOperation<BrokerOp::k##method, &IFileManager::method __VA_OPT__(, ) __VA_ARGS__>
using Operations = std::tuple<BrokerHello PELISTO_BROKER_OPERATIONS(PELISTO_BROKER_ROW)>;
#undef PELISTO_BROKER_ROW
}  // namespace broker_detail

// Every operation, indexed by its number (the hello first).
using BrokerOperations = broker_detail::Operations;
static_assert(std::tuple_size_v<BrokerOperations> == kBrokerOpCount);
static_assert([]<std::size_t... I>(std::index_sequence<I...>) {
  return ((static_cast<std::size_t>(std::tuple_element_t<I, BrokerOperations>::kOp) == I) && ...);
}(std::make_index_sequence<kBrokerOpCount>()), "rows are numbered 1, 2, 3, ... in order");

// The row of `Op`.
template <BrokerOp Op>
using BrokerOperationOf = std::tuple_element_t<static_cast<std::size_t>(Op), BrokerOperations>;

}  // namespace pelisto
