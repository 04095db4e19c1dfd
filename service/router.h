// Turns one request into one answer: the Host and Origin checks, CORS, the
// routes of the interface, sessions and method calls.
#pragma once

#include <mutex>
#include <string>

#include "service/http_request.h"
#include "service/http_response.h"
#include "service/method_binding.h"
#include "service/session_table.h"

namespace qardex::service {

// How long a browser may keep a preflight answer.
inline constexpr int kPreflightMaxAgeSeconds = 600;

class Router {
 public:
  Router(MethodProvider& provider, SessionTable& sessions);

  // Never throws: a failure inside a method becomes a 500 answer.
  HttpResponse Handle(const HttpRequest& request);

  // The answer to a request the parser refused (400, 413, 431); the connection
  // closes after it. An approved origin still gets the CORS headers.
  HttpResponse Refuse(int status, const HttpRequest& partial);

 private:
  HttpResponse Route(const HttpRequest& request, HttpResponse response);
  HttpResponse CallMethod(const HttpRequest& request, std::string_view sessionId,
                          std::string_view methodName, HttpResponse response);

  MethodProvider& provider_;
  SessionTable& sessions_;
  const std::string hostHeader_;
  std::mutex cardWork_;  // one card transaction at a time
};

}  // namespace qardex::service
