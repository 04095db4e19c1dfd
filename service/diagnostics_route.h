// GET /v1/diagnostics: what a page may know about the set-up without learning anything about the
// person: the service's version, how many readers there are, whether one of them holds an HC
// card and whether the authentication server can be reached. The answers come from a worker for
// the caller, through a session of their own that ends with the request.
#pragma once

#include <string>

#include "service/caller.h"
#include "service/method_binding.h"

namespace qardex::service {

inline constexpr char kDiagnosticsPath[] = "/v1/diagnostics";

struct DiagnosticsAnswer {
  CallStatus status = CallStatus::Ok;  // of the first call that gave no result
  std::string body;                    // the JSON object when Ok
};

DiagnosticsAnswer GatherDiagnostics(MethodProvider& provider, const Caller& caller);

}  // namespace qardex::service
