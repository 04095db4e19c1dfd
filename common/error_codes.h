// The codes the library reports to the page, one table for every layer. Each layer returns the
// code of the step that failed; the message texts live with the catalogue.
#pragma once

#include <cstdint>

namespace qardex::common {

enum ErrorCode : std::int32_t {
  kServerUnreachable = 4061,
  // The reader scan.
  kNoPcscContext = 7001,
  kCannotSizeReaderList = 7002,  // also what PC/SC says when no reader is attached
  kCannotReadReaderList = 7003,
  kNoCardInReaders = 7004,
  // The authentication session and the card reads.
  kReadCardIdFailed = 8001,
  kGetChallengeFailed = 8002,
  kSendCardDataFailed = 8003,
  kBadServerReply02 = 8004,
  kServerReplyNot02 = 8005,
  kCardRefusedAuth = 8006,
  kSendCardAnswerFailed = 8007,
  kBadFinalReply = 8008,
  kWrongInputLength = 8009,
  kReadCardDataFailed = 8010,
  kReadBasicDataFailed = 8011,
  kCannotOpenCard = 8013,
  // The key exchange.
  kWritePrivateKeyFailed = 8300,
  kWritePublicKeyFailed = 8301,
  kPrivateDecryptFailed = 8302,
  kPublicEncryptFailed = 8303,
  kSendKeyFailed = 8304,
  kBadHelloReply = 8305,
  kSendHelloFailed = 8306,
};

}  // namespace qardex::common
