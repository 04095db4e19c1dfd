#include "setup/child_environment.h"

#include <algorithm>

namespace qardex::setup {

namespace {

constexpr std::wstring_view kName = L"COMSPEC";

wchar_t Upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c; }

// The entry's name as the system sorts it; entries that begin with "=" (the drives' current
// folders) come first and have no name here.
std::wstring SortName(std::wstring_view entry) {
  if (entry.empty() || entry[0] == L'=') return std::wstring();
  std::wstring name(entry.substr(0, entry.find(L'=')));
  std::transform(name.begin(), name.end(), name.begin(), Upper);
  return name;
}

}  // namespace

std::wstring WithInterpreter(std::wstring_view block, std::wstring_view interpreter) {
  std::wstring ours(kName);
  ours += L'=';
  ours += interpreter;

  std::wstring result;
  bool placed = false;
  const auto place = [&] {
    result += ours;
    result += L'\0';
    placed = true;
  };
  std::size_t begin = 0;
  while (begin < block.size() && block[begin] != L'\0') {
    std::size_t end = block.find(L'\0', begin);
    if (end == std::wstring_view::npos) end = block.size();
    const std::wstring_view entry = block.substr(begin, end - begin);
    begin = end + 1;
    const std::wstring name = SortName(entry);
    if (name == kName) {
      if (!placed) place();
      continue;
    }
    if (!placed && !name.empty() && name > kName) place();
    result += entry;
    result += L'\0';
  }
  if (!placed) place();
  result += L'\0';
  return result;
}

}  // namespace qardex::setup
