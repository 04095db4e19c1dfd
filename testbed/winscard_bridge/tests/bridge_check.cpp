// bridge_check.exe: exercises the winscard bridge from the Windows side through the ordinary
// WinSCard import library.
//
//   bridge_check.exe service CARD_READER READER...   pcscd runs; READERs in PC/SC order, the
//                                                    card sits in CARD_READER, the rest are empty
//   bridge_check.exe no-service                      pcscd is not running
//
// Prints one line per failed expectation and a summary "N passed, M failed"; exits 1 on any
// failure and 2 on a usage error.
#include <windows.h>
#include <winscard.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "bridge_checks.h"
#include "guards.h"

namespace {

void CheckExportedPci(CheckLog& log) {
  log.StartGroup("pci");
  log.ExpectEqual(g_rgSCardT0Pci.dwProtocol, SCARD_PROTOCOL_T0, "T=0 PCI protocol");
  log.ExpectEqual(g_rgSCardT0Pci.cbPciLength, 8, "T=0 PCI length");
  log.ExpectEqual(g_rgSCardT1Pci.dwProtocol, SCARD_PROTOCOL_T1, "T=1 PCI protocol");
  log.ExpectEqual(g_rgSCardT1Pci.cbPciLength, 8, "T=1 PCI length");
  log.ExpectEqual(g_rgSCardRawPci.dwProtocol, SCARD_PROTOCOL_RAW, "raw PCI protocol");
  log.ExpectEqual(g_rgSCardRawPci.cbPciLength, 8, "raw PCI length");
}

void CheckNoService(CheckLog& log) {
  log.StartGroup("no-service");
  Guarded<SCARDCONTEXT> context(0x4242);
  log.ExpectResult(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, context.get()),
                   SCARD_E_NO_SERVICE, "establish context without the service");
  log.Expect(context.intact() && context.value() == 0x4242,
             "failed establish leaves the context alone");
}

int Usage() {
  std::printf(
      "usage: bridge_check.exe service CARD_READER READER...\n"
      "       bridge_check.exe no-service\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  CheckLog log;
  CheckExportedPci(log);
  if (std::strcmp(argv[1], "no-service") == 0 && argc == 2) {
    CheckNoService(log);
  } else if (std::strcmp(argv[1], "service") == 0 && argc >= 4) {
    ServiceSetup setup;
    setup.card_reader = argv[2];
    setup.readers.assign(argv + 3, argv + argc);
    if (std::find(setup.readers.begin(), setup.readers.end(), setup.card_reader) ==
        setup.readers.end())
      return Usage();
    CheckContextAndListing(log, setup);
    CheckCardExchange(log, setup);
    CheckInvalidHandles(log, setup);
  } else {
    return Usage();
  }
  std::printf("%d passed, %d failed\n", log.passed(), log.failed());
  return log.failed() == 0 ? 0 : 1;
}
