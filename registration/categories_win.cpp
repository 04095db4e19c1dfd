#include <windows.h>
#include <comcat.h>

#include <string>

#include "com/com_ptr.h"
#include "qardex_idl.h"
#include "registration/categories.h"
#include "registration/safety_categories.h"

namespace qardex::registration {

namespace {

constexpr std::size_t kDescriptionLimit = 127;

// The table's texts are ASCII.
std::wstring Widen(const char* text) {
  return std::wstring(text, text + std::char_traits<char>::length(text));
}

HRESULT CategoryManager(com::ComPtr<ICatRegister>& manager) {
  return CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                          IID_ICatRegister, manager.ReceiveVoid());
}

HRESULT RegisterCategory(const GUID& category, const std::wstring& description) {
  com::ComPtr<ICatRegister> manager;
  HRESULT result = CategoryManager(manager);
  if (FAILED(result)) return result;
  CATEGORYINFO info{};
  info.catid = category;
  info.lcid = kCategoryLocale;
  description.copy(info.szDescription, kDescriptionLimit);
  return manager->RegisterCategories(1, &info);
}

HRESULT RecordImplementation(const GUID& category) {
  com::ComPtr<ICatRegister> manager;
  HRESULT result = CategoryManager(manager);
  if (FAILED(result)) return result;
  CATID implemented = category;
  return manager->RegisterClassImplCategories(CLSID_twQARDEX, 1, &implemented);
}

}  // namespace

HRESULT RegisterSafetyCategories() {
  for (const SafetyCategory& entry : kSafetyCategories) {
    GUID category{};
    HRESULT result = CLSIDFromString(Widen(entry.id).c_str(), &category);
    if (SUCCEEDED(result)) result = RegisterCategory(category, Widen(entry.description));
    if (SUCCEEDED(result)) result = RecordImplementation(category);
    if (FAILED(result)) return result;
  }
  return S_OK;
}

}  // namespace qardex::registration
