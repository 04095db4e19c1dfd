// What a test peer saw, one line per event: "CONNECTION KEY VALUE". Tests read it to check the
// bytes the control sent (the "se" field, a proxy request) and the result the server computed.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace testnet {

class EventLog {
 public:
    // Appends to `path`; an empty path writes to standard error.
    explicit EventLog(const std::string& path);
    bool ok() const { return file_ != nullptr || to_stderr_; }

    // Every line is flushed at once, so a reader sees it before the reply that follows it.
    void write(int connection, const std::string& key, const std::string& value = {});

 private:
    struct Close {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Close> file_;
    bool to_stderr_ = false;
};

}  // namespace testnet
