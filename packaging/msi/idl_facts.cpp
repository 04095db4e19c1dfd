#include "packaging/msi/idl_facts.h"

#include <cctype>
#include <cstdlib>
#include <map>

namespace qardex::packaging {

namespace {

// Tokens: words (identifiers and numbers such as 1.0), quoted texts (without their quotes) and
// single punctuation characters. Comments are dropped.
struct Token {
  bool quoted = false;
  std::string text;
};

bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '.' || c == '-';
}

std::optional<std::vector<Token>> Tokens(std::string_view idl, std::string* error) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  while (i < idl.size()) {
    const char c = idl[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (idl.compare(i, 2, "//") == 0) {
      i = idl.find('\n', i);
      if (i == std::string_view::npos) i = idl.size();
    } else if (idl.compare(i, 2, "/*") == 0) {
      const std::size_t end = idl.find("*/", i + 2);
      if (end == std::string_view::npos) {
        *error = "unterminated comment";
        return std::nullopt;
      }
      i = end + 2;
    } else if (c == '"') {
      const std::size_t end = idl.find('"', i + 1);
      if (end == std::string_view::npos) {
        *error = "unterminated string";
        return std::nullopt;
      }
      tokens.push_back({true, std::string(idl.substr(i + 1, end - i - 1))});
      i = end + 1;
    } else if (IsWordChar(c)) {
      const std::size_t start = i;
      while (i < idl.size() && IsWordChar(idl[i])) ++i;
      tokens.push_back({false, std::string(idl.substr(start, i - start))});
    } else {
      tokens.push_back({false, std::string(1, c)});
      ++i;
    }
  }
  return tokens;
}

// One attribute block "[a, b(x), ...]": name -> argument ("" for a bare attribute).
using Attributes = std::map<std::string, std::string>;

std::string GuidText(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return "{" + text + "}";
}

bool ParseVersion(const std::string& text, unsigned& major, unsigned& minor) {
  char* end = nullptr;
  const unsigned long high = std::strtoul(text.c_str(), &end, 10);
  unsigned long low = 0;
  if (*end == '.') low = std::strtoul(end + 1, &end, 10);
  if (*end != '\0' || end == text.c_str() || high > 0xFFFF || low > 0xFFFF) return false;
  major = static_cast<unsigned>(high);
  minor = static_cast<unsigned>(low);
  return true;
}

class Reader {
 public:
  Reader(std::vector<Token> tokens, std::string* error)
      : tokens_(std::move(tokens)), error_(error) {}

  std::optional<TypeLibraryFacts> Read() {
    Attributes attributes;
    bool haveAttributes = false;
    while (pos_ < tokens_.size()) {
      const Token& token = tokens_[pos_];
      if (!token.quoted && token.text == "[") {
        if (!ReadAttributes(attributes)) return std::nullopt;
        haveAttributes = true;
        continue;
      }
      if (!token.quoted && token.text == "dispinterface")
        return Fail("dispinterface is not supported");
      if (!token.quoted && (token.text == "interface" || token.text == "library")) {
        if (!ReadDeclaration(token.text, haveAttributes ? attributes : Attributes{}))
          return std::nullopt;
      } else {
        Brace(token);
        ++pos_;
      }
      haveAttributes = false;
      attributes.clear();
    }
    if (!library_) return Fail("no library with a uuid and a version");
    for (const std::string& name : named_) {
      const auto found = definitions_.find(name);
      if (found == definitions_.end()) continue;  // defined elsewhere (an import)
      const Attributes& a = found->second;
      if (!a.count("dual") && !a.count("oleautomation")) continue;
      if (!a.count("uuid")) return Fail("interface " + name + " has no uuid");
      library_->interfaces.push_back({GuidText(a.at("uuid")), name});
    }
    return library_;
  }

 private:
  std::optional<TypeLibraryFacts> Fail(const std::string& reason) {
    Refuse(reason);
    return std::nullopt;
  }

  bool Refuse(const std::string& reason) {
    if (error_) *error_ = reason;
    return false;
  }

  void Brace(const Token& token) {
    if (token.quoted) return;
    if (token.text == "{") ++depth_;
    if (token.text == "}") {
      --depth_;
      if (libraryDepth_ > 0 && depth_ < libraryDepth_) libraryDepth_ = 0;
    }
  }

  bool ReadAttributes(Attributes& attributes) {
    ++pos_;  // "["
    while (pos_ < tokens_.size() && tokens_[pos_].text != "]") {
      const std::string name = tokens_[pos_++].text;
      std::string argument;
      if (pos_ < tokens_.size() && tokens_[pos_].text == "(") {
        int nesting = 1;
        for (++pos_; pos_ < tokens_.size() && nesting > 0; ++pos_) {
          const Token& t = tokens_[pos_];
          if (!t.quoted && t.text == "(") ++nesting;
          if (!t.quoted && t.text == ")" && --nesting == 0) break;
          argument += t.text;
        }
        ++pos_;  // ")"
      }
      attributes[name] = argument;
      if (pos_ < tokens_.size() && tokens_[pos_].text == ",") ++pos_;
    }
    if (pos_ >= tokens_.size()) return Refuse("unterminated attribute block");
    ++pos_;  // "]"
    return true;
  }

  // "interface NAME : BASE {", "interface NAME {", "interface NAME;" or "library NAME {".
  bool ReadDeclaration(const std::string& kind, const Attributes& attributes) {
    if (pos_ + 2 >= tokens_.size()) return Refuse(kind + " without a name");
    const std::string name = tokens_[pos_ + 1].text;
    const std::string next = tokens_[pos_ + 2].text;
    pos_ += 2;
    if (kind == "interface") {
      if (next == ":" || next == "{") definitions_[name] = attributes;
      if (libraryDepth_ > 0 && !Named(name)) named_.push_back(name);
      return true;
    }
    if (library_) return Refuse("more than one library");
    TypeLibraryFacts facts;
    facts.name = name;
    if (!attributes.count("uuid") || !attributes.count("version") ||
        !ParseVersion(attributes.at("version"), facts.major, facts.minor)) {
      return Refuse("library " + name + " needs a uuid and a version");
    }
    facts.id = GuidText(attributes.at("uuid"));
    if (attributes.count("helpstring")) facts.help = attributes.at("helpstring");
    if (attributes.count("lcid"))
      facts.locale = std::strtoul(attributes.at("lcid").c_str(), nullptr, 0);
    if (attributes.count("restricted")) facts.flags |= 1;
    if (attributes.count("control")) facts.flags |= 2;
    if (attributes.count("hidden")) facts.flags |= 4;
    library_ = facts;
    libraryDepth_ = depth_ + 1;
    return true;
  }

  bool Named(const std::string& name) const {
    for (const std::string& n : named_) {
      if (n == name) return true;
    }
    return false;
  }

  std::vector<Token> tokens_;
  std::string* error_;
  std::size_t pos_ = 0;
  int depth_ = 0;
  int libraryDepth_ = 0;  // depth of the library's body while inside it
  std::optional<TypeLibraryFacts> library_;
  std::map<std::string, Attributes> definitions_;
  std::vector<std::string> named_;  // interfaces the library names, in order
};

}  // namespace

std::optional<TypeLibraryFacts> ReadTypeLibraryFacts(std::string_view idl, std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  std::optional<std::vector<Token>> tokens = Tokens(idl, error);
  if (!tokens) return std::nullopt;
  return Reader(std::move(*tokens), error).Read();
}

}  // namespace qardex::packaging
