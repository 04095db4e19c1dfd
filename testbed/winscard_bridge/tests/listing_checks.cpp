// Context creation and SCardListReadersA: widths of the out-parameters, the sizing call, the
// exact multi-string and the buffer-length rules.
#include <windows.h>
#include <winscard.h>

#include <cstring>
#include <string>

#include "bridge_checks.h"
#include "guards.h"
#include "scoped_handles.h"

namespace {

std::string MultiString(const std::vector<std::string>& names) {
  std::string joined;
  for (const std::string& name : names) joined.append(name).push_back('\0');
  joined.push_back('\0');
  return joined;
}

void CheckEstablish(CheckLog& log, ScopedContext& context) {
  // Garbage in the upper half survives a bridge that stores only 32 bits of the context; the
  // listing below then fails on the mangled handle.
  const SCARDCONTEXT garbage = 0x5A5A5A5A5A5A5A5A;
  Guarded<SCARDCONTEXT> out(garbage);
  LONG result = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, out.get());
  log.ExpectResult(result, SCARD_S_SUCCESS, "establish system context");
  log.Expect(out.intact(), "context canaries intact");
  log.Expect(out.value() != garbage, "context handle set");
  if (result == SCARD_S_SUCCESS) context.Adopt(out.value());

  log.ExpectResult(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, nullptr),
                   SCARD_E_INVALID_PARAMETER, "establish without out-parameter");
  Guarded<SCARDCONTEXT> refused(0x1234);
  log.ExpectResult(SCardEstablishContext(0xFFFFFFFF, nullptr, nullptr, refused.get()),
                   SCARD_E_INVALID_VALUE, "establish with an unknown scope");
  log.Expect(refused.intact() && refused.value() == 0x1234, "refused context left untouched");
}

void CheckSizing(CheckLog& log, SCARDCONTEXT context, DWORD expected) {
  for (DWORD garbage : {DWORD{0}, DWORD{12345}, DWORD{0xFFFFFFFF}}) {
    Guarded<DWORD> length(garbage);
    LONG result = SCardListReadersA(context, nullptr, nullptr, length.get());
    std::string note = " (length preset " + std::to_string(garbage) + ")";
    log.ExpectResult(result, SCARD_S_SUCCESS, "sizing call" + note);
    log.ExpectEqual(length.value(), expected, "sizing length" + note);
    log.Expect(length.intact(), "sizing length canaries intact" + note);
  }
}

void CheckFill(CheckLog& log, SCARDCONTEXT context, const std::string& expected) {
  const DWORD size = static_cast<DWORD>(expected.size());
  GuardedBuffer buffer(size);
  Guarded<DWORD> length(size);
  LONG result =
      SCardListReadersA(context, nullptr, reinterpret_cast<LPSTR>(buffer.data()), length.get());
  log.ExpectResult(result, SCARD_S_SUCCESS, "fill call");
  log.ExpectEqual(length.value(), size, "fill length");
  log.Expect(length.intact(), "fill length canaries intact");
  log.Expect(std::memcmp(buffer.data(), expected.data(), size) == 0,
             "multi-string equals the readers in order");
  log.Expect(buffer.UntouchedOutside(size), "nothing written outside the list buffer");

  // A buffer one byte short: refused and nothing written past it. pcsc-lite leaves the length
  // as given; reporting the needed length instead would be fine too, anything else is not.
  GuardedBuffer short_buffer(size - 1);
  Guarded<DWORD> short_length(size - 1);
  result = SCardListReadersA(context, nullptr, reinterpret_cast<LPSTR>(short_buffer.data()),
                             short_length.get());
  log.ExpectResult(result, SCARD_E_INSUFFICIENT_BUFFER, "fill into a short buffer");
  log.Expect(short_length.value() == size - 1 || short_length.value() == size,
             "short buffer length is the given or the needed length (got " +
                 std::to_string(short_length.value()) + ")");
  log.Expect(short_length.intact(), "short buffer length canaries intact");
  log.Expect(short_buffer.UntouchedOutside(size - 1), "nothing written past a short buffer");

  // A length with the top bit set must stay a (large) length, never turn negative or into
  // the 64-bit auto-allocation marker.
  GuardedBuffer roomy(size + 64);
  Guarded<DWORD> huge(0x80000000u);
  result = SCardListReadersA(context, nullptr, reinterpret_cast<LPSTR>(roomy.data()), huge.get());
  log.ExpectResult(result, SCARD_S_SUCCESS, "fill with a length of 0x80000000");
  log.ExpectEqual(huge.value(), size, "huge length replaced by the list length");
  log.Expect(huge.intact() && roomy.UntouchedOutside(size), "huge length writes only the list");

  log.ExpectResult(SCardListReadersA(context, nullptr, nullptr, nullptr), SCARD_E_INVALID_PARAMETER,
                   "listing without a length");
}

void CheckAutoAllocate(CheckLog& log, SCARDCONTEXT context, const std::string& expected) {
  Guarded<LPSTR> list(nullptr);
  Guarded<DWORD> length(SCARD_AUTOALLOCATE);
  LONG result =
      SCardListReadersA(context, nullptr, reinterpret_cast<LPSTR>(list.get()), length.get());
  if (result == SCARD_E_INVALID_PARAMETER) {  // refusing is allowed; then nothing is written
    log.Expect(list.value() == nullptr && list.intact() && length.intact(),
               "refused auto-allocation leaves its arguments alone");
    return;
  }
  log.ExpectResult(result, SCARD_S_SUCCESS, "auto-allocated listing");
  log.Expect(list.intact() && length.intact(), "auto-allocation canaries intact");
  log.ExpectEqual(length.value(), expected.size(), "auto-allocated length");
  if (list.value() != nullptr && length.value() == expected.size())
    log.Expect(std::memcmp(list.value(), expected.data(), expected.size()) == 0,
               "auto-allocated multi-string equals the readers");
  log.ExpectResult(SCardFreeMemory(context, list.value()), SCARD_S_SUCCESS,
                   "free the auto-allocated list");
}

}  // namespace

void CheckContextAndListing(CheckLog& log, const ServiceSetup& setup) {
  log.StartGroup("context");
  ScopedContext context;
  CheckEstablish(log, context);
  if (context.get() == 0) return;
  log.ExpectResult(SCardIsValidContext(context.get()), SCARD_S_SUCCESS, "context is valid");

  log.StartGroup("listing");
  const std::string expected = MultiString(setup.readers);
  CheckSizing(log, context.get(), static_cast<DWORD>(expected.size()));
  CheckFill(log, context.get(), expected);
  CheckAutoAllocate(log, context.get(), expected);

  log.StartGroup("context");
  log.ExpectResult(context.Release(), SCARD_S_SUCCESS, "release context");
}
