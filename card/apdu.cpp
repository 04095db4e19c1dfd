#include "card/apdu.h"

namespace qardex::card {

bool IsSuccessResponse(const std::uint8_t* response, std::size_t length) {
  return response != nullptr && length >= 2 && response[length - 2] == 0x90 &&
         response[length - 1] == 0x00;
}

}  // namespace qardex::card
