// What pages and the browser send as JSON: request bodies and native messages. A text read as a
// flat object gives its arguments exactly when it is {"args":[...]} alone, and every string read
// writes back as ASCII that reads back to the same text.
#include <string>

#include "fuzz/support/finding.h"
#include "protocol/json_text.h"

using namespace qardex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::optional<service::JsonMembers> members = service::ReadFlatObject(text);
  const std::optional<std::vector<service::JsonValue>> args = service::ReadArgs(text);
  const bool onlyArgs = members && members->size() == 1 && members->count("args") == 1 &&
                        members->at("args").kind == service::JsonMember::Kind::List;
  QARDEX_FUZZ_CHECK(args.has_value() == onlyArgs, "arguments only from {\"args\":[...]}");
  if (!members) return 0;
  for (const auto& [name, member] : *members) {
    if (member.kind != service::JsonMember::Kind::Value ||
        member.value.kind != service::JsonValue::Kind::String) {
      continue;
    }
    std::string written = "{\"s\":";
    service::AppendJsonString(written, member.value.text);
    written += "}";
    const std::optional<service::JsonMembers> again = service::ReadFlatObject(written);
    QARDEX_FUZZ_CHECK(again && again->at("s").value.text == member.value.text,
                      "a string written reads back the same");
  }
  return 0;
}
