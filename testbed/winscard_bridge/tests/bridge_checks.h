// Groups of checks that bridge_check.exe runs against the winscard bridge.
#ifndef QARDEX_BRIDGE_CHECK_BRIDGE_CHECKS_H
#define QARDEX_BRIDGE_CHECK_BRIDGE_CHECKS_H

#include <string>
#include <vector>

#include "check_log.h"

// What the test bed has attached: every reader in PC/SC order, and the one holding a card
// that answers the SELECT below. All other readers are expected to be empty.
struct ServiceSetup {
  std::vector<std::string> readers;
  std::string card_reader;
};

// SELECT of the HC application; a card present in the test bed answers 90 00.
inline const unsigned char kSelectHc[] = {0x00, 0xA4, 0x04, 0x00, 0x10, 0xD1, 0x58,
                                          0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
                                          0x00, 0x00, 0x00, 0x00, 0x00, 0x11, 0x00};

void CheckContextAndListing(CheckLog& log, const ServiceSetup& setup);
void CheckCardExchange(CheckLog& log, const ServiceSetup& setup);
void CheckInvalidHandles(CheckLog& log, const ServiceSetup& setup);

#endif
