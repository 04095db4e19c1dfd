#include "engine/error_catalogue.h"

#include "common/error_codes.h"

namespace qardex::engine {

namespace {

using namespace common;

// Big5 bytes of the message texts (the readable form is in each comment).
// 無法連接服務網站
constexpr char kCannotReachService[] =
    "\xB5L\xAAk\xB3s\xB1\xB5\xAA"
    "A\xB0\xC8\xBA\xF4\xAF\xB8";
// PC/SC 環境異常
constexpr char kPcscFailure[] = "PC/SC \xC0\xF4\xB9\xD2\xB2\xA7\xB1`";
// 無法存取讀卡機
constexpr char kCannotAccessReader[] =
    "\xB5L\xAAk\xA6s\xA8\xFA\xC5\xAA\xA5"
    "d\xBE\xF7";
// 未置入KAVO卡
constexpr char kNoCardInserted[] =
    "\xA5\xBC\xB8m\xA4JKAVO\xA5"
    "d";
// 讀卡異常
constexpr char kCardReadFailure[] =
    "\xC5\xAA\xA5"
    "d\xB2\xA7\xB1`";
// 認卡傳輸異常
constexpr char kAuthTransmissionFailure[] =
    "\xBB{\xA5"
    "d\xB6\xC7\xBF\xE9\xB2\xA7\xB1`";
// 卡片回傳無法認卡
constexpr char kCardRefusedAuthentication[] =
    "\xA5"
    "d\xA4\xF9\xA6^\xB6\xC7\xB5L\xAAk\xBB{\xA5"
    "d";
// 資料長度不對
constexpr char kWrongDataLength[] = "\xB8\xEA\xAE\xC6\xAA\xF8\xAB\xD7\xA4\xA3\xB9\xEF";
// 讀取基本資料失敗
constexpr char kBasicDataReadFailed[] =
    "\xC5\xAA\xA8\xFA\xB0\xF2\xA5\xBB\xB8\xEA\xAE\xC6\xA5\xA2\xB1\xD1";
// 無法存取KAVO卡，請查明讀卡機是否已插好或是否已置入KAVO卡
constexpr char kCannotAccessCard[] =
    "\xB5L\xAAk\xA6s\xA8\xFAKAVO\xA5"
    "d\xA1"
    "A\xBD\xD0\xAC"
    "d\xA9\xFA\xC5\xAA\xA5"
    "d\xBE\xF7\xACO\xA7_\xA4w\xB4\xA1\xA6n\xA9\xCE\xACO\xA7_\xA4w\xB8m\xA4JKAVO\xA5"
    "d";
// PKCS#11異常
constexpr char kPkcs11Failure[] = "PKCS#11\xB2\xA7\xB1`";
// Session 建立異常
constexpr char kSessionSetupFailure[] = "Session \xAB\xD8\xA5\xDF\xB2\xA7\xB1`";

struct CatalogueEntry {
  std::int32_t code;
  const char* text;
};

// Codes without an entry (8300, 8301 among them) take the system's text.
constexpr CatalogueEntry kCatalogue[] = {
    {kServerUnreachable, kCannotReachService},
    {kNoPcscContext, kPcscFailure},
    {kCannotSizeReaderList, kCannotAccessReader},
    {kCannotReadReaderList, kCannotAccessReader},
    {kNoCardInReaders, kNoCardInserted},
    {kReadCardIdFailed, kCardReadFailure},
    {kGetChallengeFailed, kCardReadFailure},
    {kSendCardDataFailed, kAuthTransmissionFailure},
    {kBadServerReply02, kAuthTransmissionFailure},
    {kServerReplyNot02, kAuthTransmissionFailure},
    {kSendCardAnswerFailed, kAuthTransmissionFailure},
    {kBadFinalReply, kAuthTransmissionFailure},
    {kCardRefusedAuth, kCardRefusedAuthentication},
    {kWrongInputLength, kWrongDataLength},
    {kReadCardDataFailed, kBasicDataReadFailed},
    {kReadBasicDataFailed, kBasicDataReadFailed},
    {kCannotOpenCard, kCannotAccessCard},
    {kPrivateDecryptFailed, kPkcs11Failure},
    {kPublicEncryptFailed, kPkcs11Failure},
    {kSendHelloFailed, kPkcs11Failure},
    {kSendKeyFailed, kSessionSetupFailure},
    {kBadHelloReply, kSessionSetupFailure},
};

constexpr std::size_t kMaxCodeUnits = 5;

}  // namespace

// 參數錯誤!!!所傳入的參數不是異常代碼
const char kParameterErrorText[] =
    "\xB0\xD1\xBC\xC6\xBF\xF9\xBB~!!!\xA9\xD2\xB6\xC7\xA4J\xAA\xBA\xB0\xD1\xBC\xC6\xA4\xA3\xACO"
    "\xB2\xA7\xB1`\xA5N\xBDX";

const char* CatalogueText(std::int32_t code) {
  for (const CatalogueEntry& entry : kCatalogue) {
    if (entry.code == code) return entry.text;
  }
  return nullptr;
}

std::optional<std::int32_t> ParseCodeArgument(std::size_t wideLength, const std::string& narrow) {
  if (wideLength > kMaxCodeUnits) return std::nullopt;
  std::int32_t value = 0;
  for (char c : narrow) {
    if (c < '0' || c > '9') return std::nullopt;
    // At most five units, but a narrow form is never trusted to be as short.
    if (value > 99999) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace qardex::engine
