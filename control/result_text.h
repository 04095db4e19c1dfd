// One automation string of a result, with a narrow copy in the system's ANSI
// code page made on demand.
#pragma once

#include <windows.h>

#include <string>

#include "com/com_ptr.h"

namespace qardex::control {

class ResultText {
 public:
  // Converts ANSI-code-page text to UTF-16 and keeps it.
  HRESULT AssignNarrow(const char* text);
  HRESULT AssignNarrow(const std::string& text) { return AssignNarrow(text.c_str()); }
  // Keeps a copy of UTF-16 text (a null BSTR empties the holder).
  HRESULT AssignWide(BSTR text);
  void Clear();
  bool empty() const { return text_.get() == nullptr; }

  // A new BSTR that is a byte-for-byte copy of the held string, owned by the
  // caller; null when the holder is empty.
  HRESULT CopyTo(BSTR* out) const;

  // Assigns narrow text and hands the caller a copy: a method's last step.
  HRESULT Deliver(const std::string& narrow, BSTR* out);

  // The held text in the ANSI code page ("" when empty).
  const std::string& Narrow();

 private:
  com::Bstr text_;
  std::string narrow_;
  bool narrowValid_ = false;
};

}  // namespace qardex::control
