// Puts a set of files into a folder as a whole: either every file of the set is in place
// afterwards, or the folder holds what it held before.
#pragma once

#include <filesystem>
#include <vector>

#include "keymint/certificate_set.h"

namespace qardex::keymint {

// Every content goes to a temporary name first; then the earlier files are moved aside, the new
// ones take their names, and the earlier ones are deleted. A failure at any step removes what
// was written and brings the earlier files back, then throws MintError.
void WriteAllOrNothing(const std::filesystem::path& folder, const std::vector<NamedFile>& files);

}  // namespace qardex::keymint
