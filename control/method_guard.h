// Keeps C++ exceptions from crossing the automation boundary.
#pragma once

#include <windows.h>

#include <new>

namespace qardex::control {

template <typename Body>
HRESULT Guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace qardex::control
