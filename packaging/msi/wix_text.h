// Text for the WiX sources the packaging generator writes.
#pragma once

#include <string>

namespace qardex::packaging {

// Text for a Formatted field of the package: brackets and braces are written as escapes, so
// the installer takes them literally.
std::string FormattedLiteral(const std::string& text);

// Text for an XML attribute of a file wixl preprocesses ('$' doubled).
std::string XmlAttribute(const std::string& text);

}  // namespace qardex::packaging
