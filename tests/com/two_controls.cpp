// two_controls.exe ROUNDS RANDOM SIGN_RESULT BASIC_LINE
//
// Two controls on two apartment threads of one process use one card at the same time: the first
// calls H_Sign(RANDOM) ROUNDS times and expects SIGN_RESULT each time, the second calls GetBasic
// until the first is done (at least ROUNDS times) and expects BASIC_LINE. Both go through
// IDispatch, as a page does. Prints "ok   ..." or "FAIL ..." per thread, then "N passed, M
// failed"; exit status 0 when every result was right.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "com/com_ptr.h"

namespace {

using qardex::com::Bstr;
using qardex::com::ComPtr;

struct Tally {
  int calls = 0;
  int wrong = 0;
  std::wstring first_wrong;
  std::string setup_error;  // set when the control could not be created or called
};

std::wstring Widen(const char* text) {
  const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  std::wstring wide(length > 0 ? length - 1 : 0, L'\0');
  if (length > 1) MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], length);
  return wide;
}

std::string Narrow(const std::wstring& text) {
  const int length = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(length > 0 ? length - 1 : 0, '\0');
  if (length > 1) {
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &narrow[0], length, nullptr, nullptr);
  }
  return narrow;
}

class ApartmentThread {
 public:
  ApartmentThread() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ApartmentThread() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ApartmentThread(const ApartmentThread&) = delete;
  ApartmentThread& operator=(const ApartmentThread&) = delete;
  bool ok() const { return SUCCEEDED(result_); }

 private:
  HRESULT result_;
};

// One control reached through IDispatch; methods taking no argument or one string.
class ScriptedControl {
 public:
  bool Create(std::string& error) {
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(L"QARDEX.twQARDEX", &clsid);
    if (SUCCEEDED(hr)) {
      hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                            dispatch_.ReceiveVoid());
    }
    if (FAILED(hr)) error = "cannot create the control: " + Hex(hr);
    return SUCCEEDED(hr);
  }

  // The string result of METHOD(argument) (no argument when null), or false.
  bool Call(const wchar_t* method, const wchar_t* argument, std::wstring& result,
            std::string& error) {
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(method);
    HRESULT hr = dispatch_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return error = "no method " + Narrow(method) + ": " + Hex(hr), false;
    VARIANT arg;
    VariantInit(&arg);
    Bstr argumentText(argument ? SysAllocString(argument) : nullptr);
    arg.vt = VT_BSTR;
    arg.bstrVal = argumentText.get();
    DISPPARAMS params{argument ? &arg : nullptr, nullptr, argument ? 1u : 0u, 0};
    VARIANT out;
    VariantInit(&out);
    hr = dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &out,
                           nullptr, nullptr);
    if (FAILED(hr)) return error = Narrow(method) + " failed: " + Hex(hr), false;
    if (out.vt == VT_BSTR) result.assign(out.bstrVal, SysStringLen(out.bstrVal));
    const bool text = out.vt == VT_BSTR;
    VariantClear(&out);
    if (!text) error = Narrow(method) + " returned no string";
    return text;
  }

 private:
  static std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(hr));
    return text;
  }

  ComPtr<IDispatch> dispatch_;
};

// Runs `method` on a new control of this thread until `keep_going(calls)` says stop.
template <typename KeepGoing>
void CallRepeatedly(const wchar_t* method, const wchar_t* argument, const std::wstring& expected,
                    std::atomic<int>& ready, Tally& tally, KeepGoing keep_going) {
  ApartmentThread apartment;
  ScriptedControl control;
  const bool created = apartment.ok() && control.Create(tally.setup_error);
  if (!apartment.ok()) tally.setup_error = "CoInitializeEx failed";
  ready.fetch_add(1);
  while (ready.load() < 2) Sleep(1);  // start both loops together
  if (!created) return;
  while (keep_going(tally.calls)) {
    std::wstring result;
    if (!control.Call(method, argument, result, tally.setup_error)) return;
    ++tally.calls;
    if (result != expected && tally.wrong++ == 0) tally.first_wrong = result;
  }
}

bool Report(const char* name, const Tally& tally) {
  const bool right = tally.setup_error.empty() && tally.wrong == 0 && tally.calls > 0;
  if (right) {
    std::printf("ok   %s: %d calls, every result right\n", name, tally.calls);
  } else if (!tally.setup_error.empty()) {
    std::printf("FAIL %s: %s (after %d calls)\n", name, tally.setup_error.c_str(), tally.calls);
  } else {
    std::printf("FAIL %s: %d of %d results wrong, the first \"%s\"\n", name, tally.wrong,
                tally.calls, Narrow(tally.first_wrong).c_str());
  }
  return right;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: two_controls.exe ROUNDS RANDOM SIGN_RESULT BASIC_LINE\n");
    return 2;
  }
  const int rounds = std::atoi(argv[1]);
  const std::wstring random = Widen(argv[2]);
  const std::wstring sign_result = Widen(argv[3]);
  const std::wstring basic_line = Widen(argv[4]);

  std::atomic<int> ready{0};
  std::atomic<bool> signing{true};
  Tally sign, basic;
  std::thread signer([&] {
    CallRepeatedly(L"H_Sign", random.c_str(), sign_result, ready, sign,
                   [&](int calls) { return calls < rounds; });
    signing = false;
  });
  std::thread reader([&] {
    CallRepeatedly(L"GetBasic", nullptr, basic_line, ready, basic,
                   [&](int calls) { return calls < rounds || signing.load(); });
  });
  signer.join();
  reader.join();

  // For the runner's count of log entries: one per right result of each method.
  std::printf("right results: H_Sign %d, GetBasic %d\n", sign.calls - sign.wrong,
              basic.calls - basic.wrong);
  const int passed =
      Report("H_Sign on the first thread", sign) + Report("GetBasic on the second thread", basic);
  std::printf("%d passed, %d failed\n", passed, 2 - passed);
  std::fflush(stdout);
  return passed == 2 ? 0 : 1;
}
