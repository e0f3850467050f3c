#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "os/com/apartment.h"
#include "os/com/com_error.h"
#include "os/com/global_interface_table.h"
#include "os/com/hresult.h"
#include "os/com/unknown.h"
#include "os/com/variant.h"

namespace {
using os::ComPtr;
using os::HRESULT;
using os::Variant;

// ---------------------------------------------------------------------------------------------
// Variant conversions

struct ChangeCase {
  const char* name;
  Variant src;
  os::VARTYPE vt;
  unsigned short flags;
  HRESULT hr;
  Variant expected;  // meaningful when hr succeeded
};

void PrintTo(const ChangeCase& c, std::ostream* out) { *out << c.name; }

class ComBasicsVariantChange : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(ComBasicsVariantChange, ConvertsAsTheSystemDoes) {
  const ChangeCase& c = GetParam();
  const Variant sentinel = Variant::Text("untouched");
  Variant dest = sentinel;
  EXPECT_EQ(os::VariantChangeType(&dest, c.src, c.flags, c.vt), c.hr) << c.name;
  if (os::SUCCEEDED(c.hr)) {
    EXPECT_EQ(dest.vt(), c.vt) << c.name;
    EXPECT_TRUE(dest == c.expected) << c.name << ": got " << dest.bstrVal() << "/" << dest.lVal();
  } else {
    EXPECT_TRUE(dest == sentinel) << c.name << ": the destination changed on failure";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Conversions, ComBasicsVariantChange,
    ::testing::Values(
        ChangeCase{"empty_to_text", Variant(), os::VT_BSTR, 0, os::S_OK, Variant::Text("")},
        ChangeCase{"empty_to_long", Variant(), os::VT_I4, 0, os::S_OK, Variant::Long(0)},
        ChangeCase{"long_to_text", Variant::Long(-42), os::VT_BSTR, 0, os::S_OK, Variant::Text("-42")},
        ChangeCase{"true_to_text", Variant::Bool(true), os::VT_BSTR, 0, os::S_OK, Variant::Text("-1")},
        ChangeCase{"true_to_alpha", Variant::Bool(true), os::VT_BSTR, os::VARIANT_ALPHABOOL, os::S_OK,
                   Variant::Text("True")},
        ChangeCase{"true_to_long", Variant::Bool(true), os::VT_I4, 0, os::S_OK, Variant::Long(-1)},
        ChangeCase{"long_to_bool", Variant::Long(2), os::VT_BOOL, 0, os::S_OK, Variant::Bool(true)},
        ChangeCase{"text_to_long", Variant::Text("  123 "), os::VT_I4, 0, os::S_OK, Variant::Long(123)},
        ChangeCase{"half_to_even_down", Variant::Text("2.5"), os::VT_I4, 0, os::S_OK, Variant::Long(2)},
        ChangeCase{"half_to_even_up", Variant::Text("3.5"), os::VT_I4, 0, os::S_OK, Variant::Long(4)},
        ChangeCase{"exponent", Variant::Text("1e3"), os::VT_I4, 0, os::S_OK, Variant::Long(1000)},
        ChangeCase{"hex", Variant::Text("&H1F"), os::VT_I4, 0, os::S_OK, Variant::Long(31)},
        ChangeCase{"hex_all_ones", Variant::Text("&HFFFFFFFF"), os::VT_I4, 0, os::S_OK, Variant::Long(-1)},
        ChangeCase{"octal", Variant::Text("&o17"), os::VT_I4, 0, os::S_OK, Variant::Long(15)},
        ChangeCase{"max_long", Variant::Text("2147483647"), os::VT_I4, 0, os::S_OK,
                   Variant::Long(2147483647)},
        ChangeCase{"too_big", Variant::Text("2147483648"), os::VT_I4, 0, os::DISP_E_OVERFLOW, Variant()},
        ChangeCase{"word", Variant::Text("abc"), os::VT_I4, 0, os::DISP_E_TYPEMISMATCH, Variant()},
        ChangeCase{"empty_text", Variant::Text(""), os::VT_I4, 0, os::DISP_E_TYPEMISMATCH, Variant()},
        ChangeCase{"trailing_junk", Variant::Text("12abc"), os::VT_I4, 0, os::DISP_E_TYPEMISMATCH,
                   Variant()},
        ChangeCase{"infinity_word", Variant::Text("inf"), os::VT_I4, 0, os::DISP_E_TYPEMISMATCH, Variant()},
        ChangeCase{"true_word_to_long", Variant::Text("True"), os::VT_I4, 0, os::DISP_E_TYPEMISMATCH,
                   Variant()},
        ChangeCase{"true_word_to_bool", Variant::Text("tRUE"), os::VT_BOOL, 0, os::S_OK,
                   Variant::Bool(true)},
        ChangeCase{"zero_text_to_bool", Variant::Text("0"), os::VT_BOOL, 0, os::S_OK, Variant::Bool(false)},
        ChangeCase{"yes_to_bool", Variant::Text("yes"), os::VT_BOOL, 0, os::DISP_E_TYPEMISMATCH, Variant()},
        ChangeCase{"to_empty", Variant::Long(5), os::VT_EMPTY, 0, os::S_OK, Variant()},
        ChangeCase{"unknown_type", Variant::Long(5), 9, 0, os::DISP_E_BADVARTYPE, Variant()}));

TEST(ComBasicsVariant, ChangesInPlaceAndKeepsTextBytes) {
  Variant v = Variant::Text("\xB0\xA1 42");  // EUC-KR bytes survive a text round trip
  std::string text;
  ASSERT_EQ(v.ToText(&text), os::S_OK);
  EXPECT_EQ(text, "\xB0\xA1 42");
  os::LONG n = 99;
  EXPECT_EQ(v.ToLong(&n), os::DISP_E_TYPEMISMATCH);
  EXPECT_EQ(n, 99);

  v = Variant::Text("17");
  ASSERT_EQ(v.ChangeType(os::VT_I4), os::S_OK);
  EXPECT_EQ(v.vt(), os::VT_I4);
  EXPECT_EQ(v.lVal(), 17);
  EXPECT_EQ(v.bstrVal(), "");
}

// ---------------------------------------------------------------------------------------------
// IUnknown, the reference-counting base, ComPtr

class IWidget : public os::IUnknown {
 public:
  static constexpr os::IID kIid{0x1A2B3C4D, 0x0001, 0x0002, {1, 2, 3, 4, 5, 6, 7, 8}};
  virtual int Value() = 0;

 protected:
  ~IWidget() = default;
};

class IWidget2 : public IWidget {
 public:
  static constexpr os::IID kIid{0x1A2B3C4D, 0x0001, 0x0003, {1, 2, 3, 4, 5, 6, 7, 8}};
  using BaseInterface = IWidget;
  virtual int Value2() = 0;

 protected:
  ~IWidget2() = default;
};

class IGadget : public os::IUnknown {
 public:
  static constexpr os::IID kIid{0x1A2B3C4D, 0x0001, 0x0004, {1, 2, 3, 4, 5, 6, 7, 8}};
  virtual int Gadget() = 0;

 protected:
  ~IGadget() = default;
};

const os::IID kNotOffered{0x1A2B3C4D, 0x0001, 0x0005, {1, 2, 3, 4, 5, 6, 7, 8}};

class Widget : public os::ComObject<IWidget2, IGadget> {
 public:
  explicit Widget(std::atomic<int>* destroyed) : destroyed_(destroyed) {}
  ~Widget() override { ++*destroyed_; }
  int Value() override { return 1; }
  int Value2() override { return 2; }
  int Gadget() override { return 3; }

 private:
  std::atomic<int>* destroyed_;
};

TEST(ComBasicsRefCount, CountsAndDeletesOnLastRelease) {
  std::atomic<int> destroyed{0};
  Widget* raw = nullptr;
  {
    ComPtr<Widget> w = os::MakeCom<Widget>(&destroyed);
    raw = w.Get();
    EXPECT_EQ(raw->AddRef(), 2u);
    EXPECT_EQ(raw->Release(), 1u);
    ComPtr<Widget> copy = w;  // a copy holds a reference of its own
    EXPECT_EQ(raw->AddRef(), 3u);
    EXPECT_EQ(raw->Release(), 2u);
    ComPtr<Widget> moved = std::move(copy);  // a move does not
    EXPECT_FALSE(copy);
    EXPECT_EQ(raw->AddRef(), 3u);
    EXPECT_EQ(raw->Release(), 2u);
  }
  EXPECT_EQ(destroyed.load(), 1);
}

TEST(ComBasicsRefCount, QueryInterfaceAnswersEachInterfaceAndTheirBases) {
  std::atomic<int> destroyed{0};
  ComPtr<Widget> w = os::MakeCom<Widget>(&destroyed);

  ComPtr<IWidget> base;
  ASSERT_EQ(w.As(&base), os::S_OK);  // through IWidget2's BaseInterface
  EXPECT_EQ(base->Value(), 1);
  ComPtr<IGadget> gadget;
  ASSERT_EQ(base.As(&gadget), os::S_OK);
  EXPECT_EQ(gadget->Gadget(), 3);

  // IUnknown asked through either interface is the same object identity.
  ComPtr<os::IUnknown> u1, u2;
  ASSERT_EQ(base.As(&u1), os::S_OK);
  ASSERT_EQ(gadget.As(&u2), os::S_OK);
  EXPECT_EQ(u1.Get(), u2.Get());

  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(w->QueryInterface(kNotOffered, &out), os::E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(w->QueryInterface(IGadget::kIid, nullptr), os::E_POINTER);

  // Every successful query added one reference: 1 (w) + base + gadget + u1 + u2.
  EXPECT_EQ(w->AddRef(), 6u);
  w->Release();
  base.Reset();
  gadget.Reset();
  u1.Reset();
  u2.Reset();
  w.Reset();
  EXPECT_EQ(destroyed.load(), 1);
}

TEST(ComBasicsRefCount, AttachDetachAndCopyToBalance) {
  std::atomic<int> destroyed{0};
  ComPtr<Widget> w = os::MakeCom<Widget>(&destroyed);
  Widget* raw = nullptr;
  ASSERT_EQ(w.CopyTo(&raw), os::S_OK);
  ComPtr<Widget> other;
  other.Attach(raw);  // takes over CopyTo's reference
  Widget* detached = other.Detach();
  EXPECT_FALSE(other);
  EXPECT_EQ(detached->Release(), 1u);
  w = nullptr;
  EXPECT_EQ(destroyed.load(), 1);
}

// ---------------------------------------------------------------------------------------------
// CoInitializeEx and OleInitialize

// Runs `body` on a fresh thread, so that each case starts uninitialised and leaves nothing.
template <class F>
void OnFreshThread(F body) {
  std::thread t(body);
  t.join();
}

bool Initialised() {
  os::APTTYPE type;
  os::APTTYPEQUALIFIER q;
  return os::SUCCEEDED(os::CoGetApartmentType(&type, &q));
}

TEST(ComBasicsInit, RepeatAndModelChangeFollowComRules) {
  OnFreshThread([] {
    EXPECT_FALSE(Initialised());
    EXPECT_EQ(os::CoInitializeEx(nullptr, os::COINIT_APARTMENTTHREADED), os::S_OK);
    EXPECT_EQ(os::CoInitializeEx(nullptr, os::COINIT_APARTMENTTHREADED), os::S_FALSE);
    EXPECT_EQ(os::CoInitializeEx(nullptr, os::COINIT_MULTITHREADED), os::RPC_E_CHANGED_MODE);
    os::APTTYPE type;
    os::APTTYPEQUALIFIER q;
    ASSERT_EQ(os::CoGetApartmentType(&type, &q), os::S_OK);
    EXPECT_EQ(type, os::APTTYPE_STA);
    // The refused call did not count: two successes need exactly two balancing calls.
    os::CoUninitialize();
    EXPECT_TRUE(Initialised());
    os::CoUninitialize();
    EXPECT_FALSE(Initialised());
    os::CoUninitialize();  // unbalanced: ignored
    // Once uninitialised, the thread may choose the other model.
    EXPECT_EQ(os::CoInitializeEx(nullptr, os::COINIT_MULTITHREADED), os::S_OK);
    ASSERT_EQ(os::CoGetApartmentType(&type, &q), os::S_OK);
    EXPECT_EQ(type, os::APTTYPE_MTA);
    os::CoUninitialize();
  });
}

TEST(ComBasicsInit, OleInitializeNeedsTheApartmentModel) {
  OnFreshThread([] {
    ASSERT_EQ(os::CoInitializeEx(nullptr, os::COINIT_MULTITHREADED), os::S_OK);
    EXPECT_EQ(os::OleInitialize(nullptr), os::RPC_E_CHANGED_MODE);
    os::OleUninitialize();  // nothing to balance: must not drop the CoInitializeEx
    EXPECT_TRUE(Initialised());
    os::CoUninitialize();
    EXPECT_FALSE(Initialised());
  });
  OnFreshThread([] {
    ASSERT_EQ(os::CoInitialize(nullptr), os::S_OK);
    EXPECT_EQ(os::OleInitialize(nullptr), os::S_OK);  // OLE's first on this thread
    EXPECT_EQ(os::OleInitialize(nullptr), os::S_FALSE);
    os::OleUninitialize();
    os::OleUninitialize();
    EXPECT_TRUE(Initialised());
    os::CoUninitialize();
    EXPECT_FALSE(Initialised());
  });
}

TEST(ComBasicsInit, BadArgumentsAndOtherThreads) {
  OnFreshThread([] {
    int reserved = 0;
    EXPECT_EQ(os::CoInitializeEx(&reserved, os::COINIT_APARTMENTTHREADED), os::E_INVALIDARG);
    EXPECT_EQ(os::CoInitializeEx(nullptr, 0x100), os::E_INVALIDARG);
    EXPECT_FALSE(Initialised());
    ASSERT_EQ(os::CoInitializeEx(nullptr, os::COINIT_APARTMENTTHREADED | os::COINIT_DISABLE_OLE1DDE),
              os::S_OK);
    OnFreshThread([] { EXPECT_FALSE(Initialised()) << "initialisation is per thread"; });
    os::CoUninitialize();
  });
}

// ---------------------------------------------------------------------------------------------
// The global interface table

class ComBasicsGit : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(os::CoInitializeEx(nullptr, os::COINIT_APARTMENTTHREADED), os::S_OK);
    ASSERT_EQ(os::CoCreateInstance(os::CLSID_StdGlobalInterfaceTable, nullptr, os::CLSCTX_INPROC_SERVER,
                                   os::IID_IGlobalInterfaceTable, git_.ReleaseAndGetVoidAddressOf()),
              os::S_OK);
  }
  void TearDown() override {
    git_.Reset();
    os::CoUninitialize();
  }

  ComPtr<os::IGlobalInterfaceTable> git_;
};

TEST_F(ComBasicsGit, SecondThreadGetsTheObjectWithAReference) {
  std::atomic<int> destroyed{0};
  ComPtr<Widget> w = os::MakeCom<Widget>(&destroyed);
  os::DWORD cookie = 0;
  ASSERT_EQ(git_->RegisterInterfaceInGlobal(static_cast<IWidget2*>(w.Get()), IWidget2::kIid, &cookie),
            os::S_OK);
  EXPECT_NE(cookie, 0u);

  std::thread([&] {
    // The second thread initialises COM and makes its own table object, as callers do.
    ASSERT_EQ(os::CoInitializeEx(nullptr, os::COINIT_APARTMENTTHREADED), os::S_OK);
    ComPtr<os::IGlobalInterfaceTable> git;
    ASSERT_EQ(os::CoCreateInstance(os::CLSID_StdGlobalInterfaceTable, nullptr, os::CLSCTX_INPROC_SERVER,
                                   os::IID_IGlobalInterfaceTable, git.ReleaseAndGetVoidAddressOf()),
              os::S_OK);
    EXPECT_EQ(git.Get(), git_.Get()) << "one table per process";
    ComPtr<IGadget> gadget;
    ASSERT_EQ(git->GetInterfaceFromGlobal(cookie, IGadget::kIid, gadget.ReleaseAndGetVoidAddressOf()),
              os::S_OK);
    EXPECT_EQ(gadget->Gadget(), 3);
    // w's own, the table's, and this thread's.
    EXPECT_EQ(gadget->AddRef(), 4u);
    gadget->Release();
    gadget.Reset();
    git.Reset();
    os::CoUninitialize();
  }).join();

  EXPECT_EQ(git_->RevokeInterfaceFromGlobal(cookie), os::S_OK);
  EXPECT_EQ(w->AddRef(), 2u) << "revoking drops the table's reference";
  w->Release();
  EXPECT_EQ(git_->RevokeInterfaceFromGlobal(cookie), os::E_INVALIDARG);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(git_->GetInterfaceFromGlobal(cookie, IGadget::kIid, &out), os::E_INVALIDARG);
  EXPECT_EQ(out, nullptr);
  w.Reset();
  EXPECT_EQ(destroyed.load(), 1);
}

TEST_F(ComBasicsGit, RefusesBadCallsAndThreadsWithoutCom) {
  std::atomic<int> destroyed{0};
  ComPtr<Widget> w = os::MakeCom<Widget>(&destroyed);
  os::DWORD cookie = 77;
  EXPECT_EQ(git_->RegisterInterfaceInGlobal(nullptr, IGadget::kIid, &cookie), os::E_INVALIDARG);
  EXPECT_EQ(git_->RegisterInterfaceInGlobal(static_cast<IGadget*>(w.Get()), kNotOffered, &cookie),
            os::E_NOINTERFACE);
  EXPECT_EQ(cookie, 77u);
  ASSERT_EQ(git_->RegisterInterfaceInGlobal(static_cast<IGadget*>(w.Get()), IGadget::kIid, &cookie),
            os::S_OK);
  void* out = nullptr;
  EXPECT_EQ(git_->GetInterfaceFromGlobal(cookie, kNotOffered, &out), os::E_NOINTERFACE);

  std::thread([&] {
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(git_->GetInterfaceFromGlobal(cookie, IGadget::kIid, &p), os::CO_E_NOTINITIALIZED);
    EXPECT_EQ(p, nullptr);
    ComPtr<os::IGlobalInterfaceTable> git;
    EXPECT_EQ(os::CoCreateInstance(os::CLSID_StdGlobalInterfaceTable, nullptr, os::CLSCTX_INPROC_SERVER,
                                   os::IID_IGlobalInterfaceTable, git.ReleaseAndGetVoidAddressOf()),
              os::CO_E_NOTINITIALIZED);
  }).join();

  ComPtr<os::IUnknown> other;
  EXPECT_EQ(os::CoCreateInstance(kNotOffered, nullptr, os::CLSCTX_ALL, os::IID_IUnknown,
                                 other.ReleaseAndGetVoidAddressOf()),
            os::REGDB_E_CLASSNOTREG);
  EXPECT_EQ(git_->RevokeInterfaceFromGlobal(cookie), os::S_OK);
}

TEST_F(ComBasicsGit, ConcurrentUseFromManyThreads) {
  std::atomic<int> destroyed{0};
  constexpr int kThreads = 4, kRounds = 200;
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      os::CoInitializeEx(nullptr, os::COINIT_MULTITHREADED);
      for (int i = 0; i < kRounds; ++i) {
        ComPtr<Widget> w = os::MakeCom<Widget>(&destroyed);
        os::DWORD cookie = 0;
        ComPtr<IWidget> got;
        if (os::FAILED(git_->RegisterInterfaceInGlobal(static_cast<IGadget*>(w.Get()), IGadget::kIid, &cookie)) ||
            os::FAILED(git_->GetInterfaceFromGlobal(cookie, IWidget::kIid, got.ReleaseAndGetVoidAddressOf())) ||
            got->Value() != 1 || os::FAILED(git_->RevokeInterfaceFromGlobal(cookie))) {
          ++failures;
        }
      }
      os::CoUninitialize();
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(destroyed.load(), kThreads * kRounds) << "every registration's reference was dropped";
}

// ---------------------------------------------------------------------------------------------
// The COM error

TEST(ComBasicsError, CarriesCodeInterfaceAndTexts) {
  os::ComError e(os::E_POINTER, "IXMLDOMNode", "no node", "msxml4.dll");
  EXPECT_EQ(e.Error(), os::E_POINTER);
  EXPECT_EQ(e.InterfaceName(), "IXMLDOMNode");
  EXPECT_EQ(e.Description(), "no node");
  EXPECT_EQ(e.Source(), "msxml4.dll");
  EXPECT_EQ(e.ErrorMessage(), "Invalid pointer");
  EXPECT_STREQ(e.what(), "COM error 0x80004003 from IXMLDOMNode: Invalid pointer");
  EXPECT_EQ(os::HResultText(os::HRESULT_FROM_WIN32(os::DWORD{5})), "Access is denied.");
  EXPECT_EQ(os::HResultText(static_cast<HRESULT>(0x8123ABCD)), "Unknown error 0x8123ABCD");
  EXPECT_EQ(os::HResultText(os::SELFREG_E_CLASS), "Failed to register/unregister class");
}

}  // namespace
