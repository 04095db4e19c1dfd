#include <windows.h>
#include <comcat.h>

#include <cwchar>

#include "com/com_ptr.h"
#include "qardex_idl.h"
#include "registration/categories.h"

namespace qardex::registration {

namespace {

// {7DD95802-9882-11CF-9FA9-00AA006C42C4} and {7DD95801-...}
constexpr GUID kSafeForInitializing = {
    0x7DD95802, 0x9882, 0x11CF, {0x9F, 0xA9, 0x00, 0xAA, 0x00, 0x6C, 0x42, 0xC4}};
constexpr GUID kSafeForScripting = {
    0x7DD95801, 0x9882, 0x11CF, {0x9F, 0xA9, 0x00, 0xAA, 0x00, 0x6C, 0x42, 0xC4}};
constexpr LCID kEnglishUs = 1033;
constexpr std::size_t kDescriptionLimit = 127;

HRESULT CategoryManager(com::ComPtr<ICatRegister>& manager) {
  return CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                          IID_ICatRegister, manager.ReceiveVoid());
}

HRESULT RegisterCategory(const GUID& category, const wchar_t* description) {
  com::ComPtr<ICatRegister> manager;
  HRESULT result = CategoryManager(manager);
  if (FAILED(result)) return result;
  CATEGORYINFO info{};
  info.catid = category;
  info.lcid = kEnglishUs;
  std::wcsncpy(info.szDescription, description, kDescriptionLimit);
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
  HRESULT result = RegisterCategory(kSafeForInitializing,
                                    L"Controls safely initializable from persistent data!");
  if (SUCCEEDED(result)) result = RecordImplementation(kSafeForInitializing);
  if (SUCCEEDED(result))
    result = RegisterCategory(kSafeForScripting, L"Controls safely scriptable!");
  if (SUCCEEDED(result)) result = RecordImplementation(kSafeForScripting);
  return result;
}

}  // namespace qardex::registration
