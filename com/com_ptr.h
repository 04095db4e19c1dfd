// Owning holders for COM interface pointers and automation strings.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <utility>

namespace qardex::com {

// Holds one reference to a COM interface and releases it when done.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr& other) : ptr_(other.ptr_) { AddRefIfAny(); }
  ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(ptr_, other.ptr_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  // Takes a reference the caller already holds.
  static ComPtr Attach(T* raw) {
    ComPtr result;
    result.ptr_ = raw;
    return result;
  }
  // Adds a reference of its own.
  static ComPtr Share(T* raw) {
    ComPtr result;
    result.ptr_ = raw;
    result.AddRefIfAny();
    return result;
  }

  void Reset() {
    if (ptr_) std::exchange(ptr_, nullptr)->Release();
  }
  // Gives up the reference without releasing it.
  T* Detach() { return std::exchange(ptr_, nullptr); }
  T* get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }
  // For out-parameters: releases what is held and hands out the slot.
  T** Receive() {
    Reset();
    return &ptr_;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

 private:
  void AddRefIfAny() {
    if (ptr_) ptr_->AddRef();
  }
  T* ptr_ = nullptr;
};

// Holds one BSTR and frees it when done.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(BSTR owned) : text_(owned) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  Bstr(Bstr&& other) noexcept : text_(std::exchange(other.text_, nullptr)) {}
  Bstr& operator=(Bstr&& other) noexcept {
    if (this != &other) {
      Reset();
      text_ = std::exchange(other.text_, nullptr);
    }
    return *this;
  }
  ~Bstr() { Reset(); }

  void Reset() {
    if (text_) SysFreeString(std::exchange(text_, nullptr));
  }
  BSTR get() const { return text_; }
  BSTR Release() { return std::exchange(text_, nullptr); }
  UINT length() const { return SysStringLen(text_); }

 private:
  BSTR text_ = nullptr;
};

}  // namespace qardex::com
