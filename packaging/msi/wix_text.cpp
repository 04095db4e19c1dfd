#include "packaging/msi/wix_text.h"

namespace qardex::packaging {

std::string FormattedLiteral(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '[' || c == ']' || c == '{' || c == '}') {
      out += "[\\";
      out += c;
      out += ']';
    } else {
      out += c;
    }
  }
  return out;
}

std::string XmlAttribute(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '$':
        out += "$$";
        break;  // the preprocessor's escape
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace qardex::packaging
