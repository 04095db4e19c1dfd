// Owners for WinSCard contexts and card connections, so that a failed check never leaks one.
#ifndef QARDEX_BRIDGE_CHECK_SCOPED_HANDLES_H
#define QARDEX_BRIDGE_CHECK_SCOPED_HANDLES_H

#include <windows.h>
#include <winscard.h>

class ScopedContext {
 public:
  ScopedContext() = default;
  ScopedContext(const ScopedContext&) = delete;
  ScopedContext& operator=(const ScopedContext&) = delete;
  ~ScopedContext() { Release(); }

  void Adopt(SCARDCONTEXT context) {
    Release();
    context_ = context;
    owned_ = true;
  }
  SCARDCONTEXT get() const { return context_; }
  // Returns the release result; 0 when nothing was owned.
  LONG Release() {
    if (!owned_) return SCARD_S_SUCCESS;
    owned_ = false;
    return SCardReleaseContext(context_);
  }

 private:
  SCARDCONTEXT context_ = 0;
  bool owned_ = false;
};

class ScopedCard {
 public:
  ScopedCard() = default;
  ScopedCard(const ScopedCard&) = delete;
  ScopedCard& operator=(const ScopedCard&) = delete;
  ~ScopedCard() { Disconnect(); }

  void Adopt(SCARDHANDLE card) {
    Disconnect();
    card_ = card;
    owned_ = true;
  }
  SCARDHANDLE get() const { return card_; }
  LONG Disconnect() {
    if (!owned_) return SCARD_S_SUCCESS;
    owned_ = false;
    return SCardDisconnect(card_, SCARD_LEAVE_CARD);
  }

 private:
  SCARDHANDLE card_ = 0;
  bool owned_ = false;
};

#endif
