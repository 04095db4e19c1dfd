// WinSCard binding of the PC/SC interface.
#include <windows.h>
#include <winscard.h>

#include "card/pcsc_api.h"

namespace qardex::card {

namespace {

class WinSCardPcsc final : public PcscApi {
 public:
  PcscStatus EstablishContext(PcscContext* context) override {
    SCARDCONTEXT handle = 0;
    const LONG status = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &handle);
    *context = static_cast<PcscContext>(handle);
    return status;
  }

  PcscStatus ListReaders(PcscContext context, char* buffer, std::uint32_t* length) override {
    DWORD size = buffer ? *length : 0;
    const LONG status =
        SCardListReadersA(static_cast<SCARDCONTEXT>(context), nullptr, buffer, &size);
    *length = size;
    return status;
  }

  PcscStatus Connect(PcscContext context, const char* reader, PcscCard* card) override {
    SCARDHANDLE handle = 0;
    DWORD activeProtocol = 0;
    const LONG status =
        SCardConnectA(static_cast<SCARDCONTEXT>(context), reader, SCARD_SHARE_SHARED,
                      SCARD_PROTOCOL_T1, &handle, &activeProtocol);
    *card = static_cast<PcscCard>(handle);
    return status;
  }

  PcscStatus Transmit(PcscCard card, const std::uint8_t* command, std::uint32_t commandLength,
                      std::uint8_t* response, std::uint32_t* responseLength) override {
    DWORD received = *responseLength;
    const LONG status = SCardTransmit(static_cast<SCARDHANDLE>(card), SCARD_PCI_T1, command,
                                      commandLength, nullptr, response, &received);
    *responseLength = status == SCARD_S_SUCCESS ? received : 0;
    return status;
  }

  PcscStatus BeginTransaction(PcscCard card) override {
    return SCardBeginTransaction(static_cast<SCARDHANDLE>(card));
  }

  PcscStatus EndTransaction(PcscCard card) override {
    return SCardEndTransaction(static_cast<SCARDHANDLE>(card), SCARD_LEAVE_CARD);
  }

  PcscStatus Status(PcscCard card) override {
    DWORD state = 0;
    DWORD protocol = 0;
    return SCardStatusA(static_cast<SCARDHANDLE>(card), nullptr, nullptr, &state, &protocol,
                        nullptr, nullptr);
  }

  PcscStatus Disconnect(PcscCard card) override {
    return SCardDisconnect(static_cast<SCARDHANDLE>(card), SCARD_LEAVE_CARD);
  }

  PcscStatus ReleaseContext(PcscContext context) override {
    return SCardReleaseContext(static_cast<SCARDCONTEXT>(context));
  }
};

}  // namespace

PcscApi& SystemPcsc() {
  static WinSCardPcsc pcsc;
  return pcsc;
}

}  // namespace qardex::card
