// qardex-pcsc-readers: prints what pcscd sees, one reader a line: "card<TAB>name",
// "empty<TAB>name" or "mute<TAB>name" (a card that gives no usable ATR).
// Scenarios poll it instead of sleeping. Exit status: 0 listed (possibly nothing),
// 3 the service is not running, 1 any other PC/SC failure.
#include <winscard.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Releases the PC/SC context when the listing is done.
class Context {
 public:
    Context() { result_ = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &handle_); }
    ~Context() {
        if (result_ == SCARD_S_SUCCESS) SCardReleaseContext(handle_);
    }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    LONG result() const { return result_; }
    SCARDCONTEXT handle() const { return handle_; }

 private:
    SCARDCONTEXT handle_ = 0;
    LONG result_;
};

const char* state_word(DWORD state) {
    if (state & SCARD_STATE_MUTE) return "mute";
    if (state & SCARD_STATE_PRESENT) return "card";
    return "empty";
}

int fail(const char* step, LONG result) {
    std::fprintf(stderr, "qardex-pcsc-readers: %s: %s\n", step, pcsc_stringify_error(result));
    return result == SCARD_E_NO_SERVICE ? 3 : 1;
}

}  // namespace

int main() {
    Context context;
    if (context.result() != SCARD_S_SUCCESS) return fail("SCardEstablishContext", context.result());

    DWORD length = 0;
    LONG result = SCardListReaders(context.handle(), nullptr, nullptr, &length);
    if (result == SCARD_E_NO_READERS_AVAILABLE) return 0;
    if (result != SCARD_S_SUCCESS) return fail("SCardListReaders", result);
    std::vector<char> names(length + 1, '\0');
    result = SCardListReaders(context.handle(), nullptr, names.data(), &length);
    if (result == SCARD_E_NO_READERS_AVAILABLE) return 0;
    if (result != SCARD_S_SUCCESS) return fail("SCardListReaders", result);

    std::vector<std::string> readers;
    for (const char* name = names.data(); *name; name += readers.back().size() + 1) {
        readers.emplace_back(name);
    }
    std::vector<SCARD_READERSTATE> states(readers.size());
    for (std::size_t i = 0; i < readers.size(); ++i) {
        states[i].szReader = readers[i].c_str();
        states[i].dwCurrentState = SCARD_STATE_UNAWARE;
    }
    result =
        SCardGetStatusChange(context.handle(), 0, states.data(), static_cast<DWORD>(states.size()));
    if (result != SCARD_S_SUCCESS && result != SCARD_E_TIMEOUT) {
        return fail("SCardGetStatusChange", result);
    }
    for (const auto& state : states) {
        std::printf("%s\t%s\n", state_word(state.dwEventState), state.szReader);
    }
    return 0;
}
