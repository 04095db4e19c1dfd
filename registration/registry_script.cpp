#include "registration/registry_script.h"

#include <cctype>
#include <cstdlib>

namespace qardex::registration {

namespace {

// Tokens: "{", "}", "=", bare words and quoted texts.
struct Token {
  enum class Kind { End, Open, Close, Equals, Word, Quoted };
  Kind kind = Kind::End;
  std::string text;
};

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}

  bool Next(Token& token, std::string* error) {
    SkipBlanks();
    token = Token{};
    if (pos_ >= text_.size()) return true;
    const char c = text_[pos_];
    // A brace followed by more text starts a word such as "{GUID}".
    const bool lone = pos_ + 1 >= text_.size() || IsBlank(text_[pos_ + 1]);
    if (((c == '{' || c == '}') && lone) || c == '=') {
      ++pos_;
      token.kind = c == '{'   ? Token::Kind::Open
                   : c == '}' ? Token::Kind::Close
                              : Token::Kind::Equals;
      return true;
    }
    if (c == '\'') return Quoted(token, error);
    const std::size_t start = pos_;
    while (pos_ < text_.size() && !IsBlank(text_[pos_]) && text_[pos_] != '=' &&
           text_[pos_] != '\'') {
      ++pos_;
    }
    token.kind = Token::Kind::Word;
    token.text = std::string(text_.substr(start, pos_ - start));
    return true;
  }

 private:
  static bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

  void SkipBlanks() {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
  }

  bool Quoted(Token& token, std::string* error) {
    ++pos_;  // opening quote
    std::string text;
    while (pos_ < text_.size()) {
      const char c = text_[pos_++];
      if (c != '\'') {
        text += c;
        continue;
      }
      if (pos_ < text_.size() && text_[pos_] == '\'') {
        text += '\'';
        ++pos_;
        continue;
      }
      token.kind = Token::Kind::Quoted;
      token.text = std::move(text);
      return true;
    }
    if (error) *error = "unterminated quoted text";
    return false;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

class Parser {
 public:
  Parser(std::string_view text, std::string* error) : lexer_(text), error_(error) {}

  std::optional<RegistryScript> Parse() {
    RegistryScript script;
    if (!Advance()) return std::nullopt;
    while (token_.kind != Token::Kind::End) {
      ScriptRoot root;
      if (!ParseRootName(root.root) || !Advance() || !Expect(Token::Kind::Open, "'{'")) {
        return std::nullopt;
      }
      if (!ParseKeys(root.keys)) return std::nullopt;
      script.roots.push_back(std::move(root));
    }
    return script;
  }

 private:
  bool Fail(const std::string& message) {
    if (error_) *error_ = message;
    return false;
  }

  bool Advance() { return lexer_.Next(token_, error_); }

  bool Expect(Token::Kind kind, const char* what) {
    if (token_.kind != kind) return Fail(std::string("expected ") + what);
    return Advance();
  }

  bool IsName() const {
    return token_.kind == Token::Kind::Word || token_.kind == Token::Kind::Quoted;
  }

  bool ParseRootName(RootKey& root) {
    const std::string& name = token_.text;
    if (token_.kind != Token::Kind::Word) return Fail("expected a root key");
    if (name == "HKCR" || name == "HKEY_CLASSES_ROOT") {
      root = RootKey::ClassesRoot;
    } else if (name == "HKLM" || name == "HKEY_LOCAL_MACHINE") {
      root = RootKey::LocalMachine;
    } else if (name == "HKCU" || name == "HKEY_CURRENT_USER") {
      root = RootKey::CurrentUser;
    } else {
      return Fail("unknown root key " + name);
    }
    return true;
  }

  // Keys and values up to and including the closing brace.
  bool ParseKeys(std::vector<ScriptKey>& keys, ScriptKey* owner = nullptr) {
    while (token_.kind != Token::Kind::Close) {
      if (token_.kind == Token::Kind::End) return Fail("missing '}'");
      if (token_.kind == Token::Kind::Word && token_.text == "val") {
        if (owner == nullptr) return Fail("a value outside a key");
        if (!Advance()) return false;
        ScriptValue value;
        if (!IsName()) return Fail("expected a value name");
        value.name = token_.text;
        if (!Advance() || !Expect(Token::Kind::Equals, "'='") || !ParseValue(value)) {
          return false;
        }
        owner->values.push_back(std::move(value));
        continue;
      }
      ScriptKey key;
      if (!ParseKey(key)) return false;
      keys.push_back(std::move(key));
    }
    return Advance();
  }

  bool ParseKey(ScriptKey& key) {
    if (token_.kind == Token::Kind::Word) {
      if (token_.text == "NoRemove") key.flag = KeyFlag::NoRemove;
      if (token_.text == "ForceRemove") key.flag = KeyFlag::ForceRemove;
      if (token_.text == "Delete") key.flag = KeyFlag::Delete;
      if (key.flag != KeyFlag::None && !Advance()) return false;
    }
    if (!IsName() || token_.text.empty()) return Fail("expected a key name");
    key.name = token_.text;
    if (key.name.find('\\') != std::string::npos) return Fail("a key name holds '\\'");
    if (!Advance()) return false;
    if (token_.kind == Token::Kind::Equals) {
      if (!Advance()) return false;
      ScriptValue value;  // the default value
      if (!ParseValue(value)) return false;
      key.values.push_back(std::move(value));
    }
    if (token_.kind == Token::Kind::Open) {
      if (!Advance()) return false;
      return ParseKeys(key.subkeys, &key);
    }
    return true;
  }

  // "s 'text'" or "d 'number'" (a number may also stand unquoted).
  bool ParseValue(ScriptValue& value) {
    if (token_.kind != Token::Kind::Word || (token_.text != "s" && token_.text != "d")) {
      return Fail("expected a value type s or d");
    }
    const bool isText = token_.text == "s";
    if (!Advance()) return false;
    if (!IsName()) return Fail("expected a value");
    if (isText) {
      value.type = ScriptValue::Type::String;
      value.text = token_.text;
    } else {
      char* end = nullptr;
      const unsigned long long number = std::strtoull(token_.text.c_str(), &end, 0);
      if (token_.text.empty() || *end != '\0' || number > 0xFFFFFFFFull) {
        return Fail("bad number " + token_.text);
      }
      value.type = ScriptValue::Type::Dword;
      value.number = static_cast<std::uint32_t>(number);
    }
    return Advance();
  }

  Lexer lexer_;
  std::string* error_;
  Token token_;
};

std::string Join(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : parent + "\\" + name;
}

std::int32_t SetValue(RegistryEditor& editor, RootKey root, const std::string& path,
                      const ScriptValue& value) {
  if (value.type == ScriptValue::Type::Dword) {
    return editor.SetDword(root, path, value.name, value.number);
  }
  return editor.SetString(root, path, value.name, value.text);
}

std::int32_t RegisterKeys(RegistryEditor& editor, RootKey root, const std::string& parent,
                          const std::vector<ScriptKey>& keys) {
  for (const ScriptKey& key : keys) {
    const std::string path = Join(parent, key.name);
    if (key.flag == KeyFlag::Delete) {
      if (std::int32_t status = editor.DeleteTree(root, path)) return status;
      continue;
    }
    if (key.flag == KeyFlag::ForceRemove) {
      if (std::int32_t status = editor.DeleteTree(root, path)) return status;
    }
    if (std::int32_t status = editor.CreateKey(root, path)) return status;
    for (const ScriptValue& value : key.values) {
      if (std::int32_t status = SetValue(editor, root, path, value)) return status;
    }
    if (std::int32_t status = RegisterKeys(editor, root, path, key.subkeys)) return status;
  }
  return 0;
}

void UnregisterKeys(RegistryEditor& editor, RootKey root, const std::string& parent,
                    const std::vector<ScriptKey>& keys, std::int32_t& firstError) {
  auto note = [&firstError](std::int32_t status) {
    if (status != 0 && firstError == 0) firstError = status;
  };
  for (const ScriptKey& key : keys) {
    const std::string path = Join(parent, key.name);
    switch (key.flag) {
      case KeyFlag::Delete:
        break;
      case KeyFlag::ForceRemove:
        note(editor.DeleteTree(root, path));
        break;
      case KeyFlag::NoRemove:
        UnregisterKeys(editor, root, path, key.subkeys, firstError);
        break;
      case KeyFlag::None:
        UnregisterKeys(editor, root, path, key.subkeys, firstError);
        for (const ScriptValue& value : key.values) {
          note(editor.DeleteValue(root, path, value.name));
        }
        // Keys that others have added to are left to them.
        if (editor.IsEmptyKey(root, path)) note(editor.DeleteTree(root, path));
        break;
    }
  }
}

}  // namespace

std::optional<std::string> ExpandScriptVariables(
    std::string_view text, const std::map<std::string, std::string>& variables,
    std::string* error) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    const std::size_t end = text.find('%', i + 1);
    if (end == std::string_view::npos) {
      if (error) *error = "a lone '%'";
      return std::nullopt;
    }
    const std::string name(text.substr(i + 1, end - i - 1));
    const auto found = variables.find(name);
    if (found == variables.end()) {
      if (error) *error = "unknown variable %" + name + "%";
      return std::nullopt;
    }
    for (char c : found->second) {
      out += c;
      if (c == '\'') out += '\'';
    }
    i = end;
  }
  return out;
}

std::optional<RegistryScript> ParseRegistryScript(std::string_view text, std::string* error) {
  return Parser(text, error).Parse();
}

std::int32_t ApplyRegistration(const RegistryScript& script, RegistryEditor& editor) {
  for (const ScriptRoot& root : script.roots) {
    if (std::int32_t status = RegisterKeys(editor, root.root, "", root.keys)) return status;
  }
  return 0;
}

std::int32_t ApplyUnregistration(const RegistryScript& script, RegistryEditor& editor) {
  std::int32_t firstError = 0;
  for (const ScriptRoot& root : script.roots) {
    UnregisterKeys(editor, root.root, "", root.keys, firstError);
  }
  return firstError;
}

}  // namespace qardex::registration
