#include "keymint/set_writer.h"

#include <system_error>

#include "keymint/mint_error.h"
#include "keymint/new_file.h"

namespace qardex::keymint {

namespace fs = std::filesystem;

namespace {

constexpr char kNewSuffix[] = ".keymint-new";
constexpr char kOldSuffix[] = ".keymint-old";

fs::path WithSuffix(const fs::path& folder, const std::string& name, const char* suffix) {
  return folder / fs::u8path(name + suffix);
}

// Undoes a partly done write: new files out (temporary and placed), earlier files back.
class Rollback {
 public:
  Rollback() = default;
  Rollback(const Rollback&) = delete;
  Rollback& operator=(const Rollback&) = delete;

  ~Rollback() {
    if (done_) return;
    std::error_code ignored;
    for (const fs::path& path : created_) fs::remove(path, ignored);
    for (const auto& [old, original] : movedAside_) fs::rename(old, original, ignored);
  }

  void Created(const fs::path& path) { created_.push_back(path); }
  void MovedAside(const fs::path& old, const fs::path& original) {
    movedAside_.push_back({old, original});
  }
  // The new set is complete: the earlier files are deleted instead of restored.
  void Commit() {
    done_ = true;
    std::error_code ignored;
    for (const auto& moved : movedAside_) fs::remove(moved.first, ignored);
  }

 private:
  std::vector<fs::path> created_;
  std::vector<std::pair<fs::path, fs::path>> movedAside_;
  bool done_ = false;
};

[[noreturn]] void FailOn(const std::string& step, const std::string& name,
                         const std::error_code& error) {
  throw MintError(step + " " + name + " failed: " + error.message());
}

}  // namespace

void WriteAllOrNothing(const fs::path& folder, const std::vector<NamedFile>& files) {
  Rollback rollback;
  std::error_code error;
  for (const NamedFile& file : files) {
    const fs::path temporary = WithSuffix(folder, file.name, kNewSuffix);
    fs::remove(temporary, error);
    rollback.Created(temporary);
    WriteNewFile(temporary, file.name, file.content, file.access);
  }
  for (const NamedFile& file : files) {
    const fs::path target = folder / fs::u8path(file.name);
    if (!fs::exists(target, error)) continue;
    const fs::path old = WithSuffix(folder, file.name, kOldSuffix);
    fs::remove(old, error);
    fs::rename(target, old, error);
    if (error) FailOn("moving aside the earlier", file.name, error);
    rollback.MovedAside(old, target);
  }
  for (const NamedFile& file : files) {
    const fs::path target = folder / fs::u8path(file.name);
    fs::rename(WithSuffix(folder, file.name, kNewSuffix), target, error);
    if (error) FailOn("putting in place", file.name, error);
    rollback.Created(target);
  }
  rollback.Commit();
}

}  // namespace qardex::keymint
