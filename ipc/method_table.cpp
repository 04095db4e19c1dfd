#include "ipc/method_table.h"

namespace qardex::ipc {

const MethodSignature* FindMethod(std::string_view name) {
  for (const MethodSignature& method : kMethods) {
    if (method.name == name) return &method;
  }
  return nullptr;
}

bool ArgumentsFit(const MethodSignature& method, const std::vector<Value>& args) {
  if (args.size() != method.argCount) return false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i].kind != method.argTypes[i]) return false;
  }
  return true;
}

}  // namespace qardex::ipc
