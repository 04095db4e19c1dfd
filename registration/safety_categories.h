// The two component categories that declare the control safe, as the registry names them.
// One table for the DLL's own registration and for the installer packages' registry rows.
#pragma once

namespace qardex::registration {

struct SafetyCategory {
  const char* id;           // "{...}", the category's GUID
  const char* description;  // its English (United States) name
};

// Registered, and recorded as implemented by the class, in this order.
inline constexpr SafetyCategory kSafetyCategories[] = {
    {"{7DD95802-9882-11CF-9FA9-00AA006C42C4}",
     "Controls safely initializable from persistent data!"},
    {"{7DD95801-9882-11CF-9FA9-00AA006C42C4}", "Controls safely scriptable!"},
};

// The locale of the descriptions: English (United States). The registry names the description
// value after it in hexadecimal ("409").
inline constexpr unsigned kCategoryLocale = 0x409;

}  // namespace qardex::registration
