#include "dll/class_factory.h"

#include "control/ctwqardex.h"
#include "com/module_state.h"

namespace qardex::server {

namespace {

// Lives as long as the module; its references only count as factory locks
// through LockServer, as for any cached class object.
class ControlFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) {
      return E_NOINTERFACE;
    }
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    return control::CtwQARDEX::Create(outer, iid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      com::LockModule();
    } else {
      com::UnlockModule();
    }
    return S_OK;
  }
};

}  // namespace

IClassFactory& ControlClassFactory() {
  static ControlFactory factory;  // initialised once, under the runtime's lock
  return factory;
}

}  // namespace qardex::server
