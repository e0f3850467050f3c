// IUnknown, the reference-counting base that implements it, and the smart pointer that holds it.
//
// Every interface derives from IUnknown and names its identifier as `static constexpr IID kIid`;
// an interface that extends another one (other than IUnknown) also names it as `BaseInterface`,
// so that QueryInterface answers for the whole chain. Reference counts are atomic: an object may
// be AddRef'd and Released from any thread; what else is thread-safe is up to each object.
#pragma once

#include <atomic>
#include <cstddef>
#include <utility>

#include "os/base/types.h"
#include "os/com/guid.h"
#include "os/com/hresult.h"

namespace os {

class IUnknown {
 public:
  // {00000000-0000-0000-C000-000000000046}
  static constexpr IID kIid{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

  // On success stores the interface with a reference added in `*out` and returns S_OK; otherwise
  // stores null and returns E_NOINTERFACE (E_POINTER when `out` is null).
  virtual HRESULT QueryInterface(const IID& iid, void** out) = 0;
  // Both return the new count, for tests and diagnostics only.
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  // Objects go away through Release, never through delete on an interface.
  ~IUnknown() = default;
};

inline const IID& IID_IUnknown = IUnknown::kIid;

template <class I>
constexpr const IID& IidOf() {
  return I::kIid;
}

namespace com_detail {
// `self` as the interface that `iid` names, when that is `I` or an interface `I` extends.
template <class I>
void* Find(I* self, const IID& iid) {
  if (iid == I::kIid) return self;
  if constexpr (requires { typename I::BaseInterface; }) {
    return Find<typename I::BaseInterface>(self, iid);
  } else {
    return nullptr;
  }
}

template <class First, class... Rest>
struct FirstOf {
  using Type = First;
};
}  // namespace com_detail

// Implements IUnknown for a class that offers `Interfaces`. Objects are made with MakeCom and
// start with one reference, owned by the ComPtr that MakeCom returns; the last Release deletes.
template <class... Interfaces>
class ComObject : public Interfaces... {
 public:
  HRESULT QueryInterface(const IID& iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    using Primary = typename com_detail::FirstOf<Interfaces...>::Type;
    if (iid == IID_IUnknown) {
      // The same pointer for every request of IUnknown: that is how COM compares identities.
      *out = static_cast<IUnknown*>(static_cast<Primary*>(this));
    } else {
      (void)(((*out = com_detail::Find<Interfaces>(this, iid)) != nullptr) || ...);
    }
    if (*out == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }

  ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }

  ULONG Release() override {
    ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }

 protected:
  ComObject() = default;
  virtual ~ComObject() = default;
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

 private:
  std::atomic<ULONG> refs_{1};
};

// Holds one reference to an interface. Copying adds a reference, destruction releases it.
// Not synchronised: one ComPtr object is used by one thread at a time.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Adds a reference to `p` (use Attach to take one over instead).
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  template <class U>
  ComPtr(const ComPtr<U>& o) : ComPtr(static_cast<T*>(o.Get())) {}
  ~ComPtr() { Reset(); }

  ComPtr& operator=(const ComPtr& o) {
    ComPtr(o).Swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& o) noexcept {
    ComPtr(std::move(o)).Swap(*this);
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) {
    Reset();
    return *this;
  }

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

  // Releases what is held and returns the slot for a call that stores a referenced pointer.
  T** ReleaseAndGetAddressOf() {
    Reset();
    return &p_;
  }
  void** ReleaseAndGetVoidAddressOf() { return reinterpret_cast<void**>(ReleaseAndGetAddressOf()); }

  // Takes over a reference the caller owns; Detach hands it back.
  void Attach(T* p) {
    Reset();
    p_ = p;
  }
  T* Detach() { return std::exchange(p_, nullptr); }
  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  void Swap(ComPtr& o) noexcept { std::swap(p_, o.p_); }

  // QueryInterface for U; `out` is emptied on failure. E_POINTER when nothing is held.
  template <class U>
  HRESULT As(ComPtr<U>* out) const {
    if (p_ == nullptr) {
      out->Reset();
      return E_POINTER;
    }
    return p_->QueryInterface(IidOf<U>(), out->ReleaseAndGetVoidAddressOf());
  }
  // Stores a new reference in `*out` (null when nothing is held).
  HRESULT CopyTo(T** out) const {
    if (out == nullptr) return E_POINTER;
    *out = p_;
    if (p_) p_->AddRef();
    return S_OK;
  }

  friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.p_ == b.p_; }
  friend bool operator==(const ComPtr& a, std::nullptr_t) { return a.p_ == nullptr; }

 private:
  T* p_ = nullptr;
};

// Makes a ComObject-derived object; the returned pointer owns its first reference.
template <class T, class... Args>
ComPtr<T> MakeCom(Args&&... args) {
  ComPtr<T> p;
  p.Attach(new T(std::forward<Args>(args)...));
  return p;
}

}  // namespace os
