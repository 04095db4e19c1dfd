#include "https/http_exchange.h"

namespace qardex::service {

std::string HttpExchange::Receive(std::string_view bytes, const Abandoned& abandoned) {
  std::string out;
  while (!closing_ && !bytes.empty()) {
    std::size_t consumed = 0;
    const RequestParser::Status status = parser_.Feed(bytes, consumed);
    bytes.remove_prefix(consumed);
    if (status == RequestParser::Status::NeedMore) break;
    HttpResponse response;
    if (status != RequestParser::Status::Complete) {
      response = router_.Refuse(parser_.FailureStatus(), parser_.Request());
    } else if (caller_.refusal != CallerRefusal::None) {
      response = router_.RefuseCaller(parser_.Request(), caller_, refused_);
      refused_ = true;
    } else {
      response = router_.Handle(parser_.Request(), caller_.caller, abandoned);
    }
    out += SerializeResponse(response);
    closing_ = response.close || response.events != nullptr;
    events_ = std::move(response.events);
    parser_.Reset();
  }
  return out;
}

}  // namespace qardex::service
