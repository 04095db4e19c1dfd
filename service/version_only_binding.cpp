#include "service/version_only_binding.h"

#include <stdexcept>

namespace qardex::service {

namespace {

// The control's version text; the engine will be its one home.
constexpr char16_t kVersion[] = u"0001";

class VersionOnlySession : public MethodSession {
 public:
  CallOutcome Call(const MethodSpec& method, const std::vector<JsonValue>&) override {
    if (method.name != "GetVersion") throw std::logic_error("method not yet served");
    return {JsonValue::String(kVersion), 0};
  }
};

}  // namespace

std::u16string VersionOnlyProvider::Version() { return kVersion; }

std::unique_ptr<MethodSession> VersionOnlyProvider::OpenSession() {
  return std::make_unique<VersionOnlySession>();
}

}  // namespace qardex::service
