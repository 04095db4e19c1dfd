// A pcscd reader driver that presents a vpcd reader with one slot instead of two.
//
// vpcd's slot count is fixed when it is compiled, and pcscd drops the whole reader when one of
// its slots fails to open, so a scenario that needs exactly one reader (or readers whose names
// differ) loads this module instead. It forwards every call to the vpcd driver found beside it
// (or the system one) and answers only the slot-count question itself.
//
// pcscd shares one loaded driver between all readers that name the same file, and vpcd keeps its
// state per slot number, so each reader needs its own copy of this module and of vpcd.
#include <dlfcn.h>

extern "C" {  // the driver header declares the entry points without C linkage
#include <ifdhandler.h>
}

#include <string>

namespace {

constexpr char kSystemVpcd[] = "/usr/lib/pcsc/drivers/serial/libifdvpcd.so";
constexpr char kVpcdBesideMe[] = "libifdvpcd.so";

class VpcdDriver {
 public:
    VpcdDriver() {
        handle_ = dlopen(beside_this_module().c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle_) handle_ = dlopen(kSystemVpcd, RTLD_NOW | RTLD_LOCAL);
        if (!handle_) return;
        bind(create_by_name, "IFDHCreateChannelByName");
        bind(create, "IFDHCreateChannel");
        bind(close, "IFDHCloseChannel");
        bind(get_capabilities, "IFDHGetCapabilities");
        bind(set_capabilities, "IFDHSetCapabilities");
        bind(set_protocol, "IFDHSetProtocolParameters");
        bind(power, "IFDHPowerICC");
        bind(transmit, "IFDHTransmitToICC");
        bind(presence, "IFDHICCPresence");
        bind(control, "IFDHControl");
    }
    ~VpcdDriver() {
        if (handle_) dlclose(handle_);
    }
    VpcdDriver(const VpcdDriver&) = delete;
    VpcdDriver& operator=(const VpcdDriver&) = delete;

    RESPONSECODE (*create_by_name)(DWORD, LPSTR) = nullptr;
    RESPONSECODE (*create)(DWORD, DWORD) = nullptr;
    RESPONSECODE (*close)(DWORD) = nullptr;
    RESPONSECODE (*get_capabilities)(DWORD, DWORD, PDWORD, PUCHAR) = nullptr;
    RESPONSECODE (*set_capabilities)(DWORD, DWORD, DWORD, PUCHAR) = nullptr;
    RESPONSECODE (*set_protocol)(DWORD, DWORD, UCHAR, UCHAR, UCHAR, UCHAR) = nullptr;
    RESPONSECODE (*power)(DWORD, DWORD, PUCHAR, PDWORD) = nullptr;
    RESPONSECODE (*transmit)
    (DWORD, SCARD_IO_HEADER, PUCHAR, DWORD, PUCHAR, PDWORD, PSCARD_IO_HEADER) = nullptr;
    RESPONSECODE (*presence)(DWORD) = nullptr;
    RESPONSECODE (*control)(DWORD, DWORD, PUCHAR, DWORD, PUCHAR, DWORD, LPDWORD) = nullptr;

 private:
    template <typename Function>
    void bind(Function& slot, const char* name) {
        slot = reinterpret_cast<Function>(dlsym(handle_, name));
    }

    static std::string beside_this_module() {
        Dl_info info{};
        if (!dladdr(reinterpret_cast<void*>(&beside_this_module), &info) || !info.dli_fname) {
            return kSystemVpcd;
        }
        std::string path = info.dli_fname;
        const auto slash = path.rfind('/');
        return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) +
               kVpcdBesideMe;
    }

    void* handle_ = nullptr;
};

const VpcdDriver& vpcd() {
    static const VpcdDriver driver;
    return driver;
}

}  // namespace

extern "C" {

RESPONSECODE IFDHCreateChannelByName(DWORD lun, LPSTR device) {
    return vpcd().create_by_name ? vpcd().create_by_name(lun, device) : IFD_COMMUNICATION_ERROR;
}

RESPONSECODE IFDHCreateChannel(DWORD lun, DWORD channel) {
    return vpcd().create ? vpcd().create(lun, channel) : IFD_COMMUNICATION_ERROR;
}

RESPONSECODE IFDHCloseChannel(DWORD lun) {
    return vpcd().close ? vpcd().close(lun) : IFD_COMMUNICATION_ERROR;
}

RESPONSECODE IFDHGetCapabilities(DWORD lun, DWORD tag, PDWORD length, PUCHAR value) {
    if (tag == TAG_IFD_SLOTS_NUMBER) {
        if (!length || !value || *length < 1) return IFD_COMMUNICATION_ERROR;
        *value = 1;
        *length = 1;
        return IFD_SUCCESS;
    }
    return vpcd().get_capabilities ? vpcd().get_capabilities(lun, tag, length, value)
                                   : IFD_COMMUNICATION_ERROR;
}

RESPONSECODE IFDHSetCapabilities(DWORD lun, DWORD tag, DWORD length, PUCHAR value) {
    return vpcd().set_capabilities ? vpcd().set_capabilities(lun, tag, length, value)
                                   : IFD_NOT_SUPPORTED;
}

RESPONSECODE IFDHSetProtocolParameters(DWORD lun, DWORD protocol, UCHAR flags, UCHAR pts1,
                                       UCHAR pts2, UCHAR pts3) {
    return vpcd().set_protocol ? vpcd().set_protocol(lun, protocol, flags, pts1, pts2, pts3)
                               : IFD_NOT_SUPPORTED;
}

RESPONSECODE IFDHPowerICC(DWORD lun, DWORD action, PUCHAR atr, PDWORD atr_length) {
    return vpcd().power ? vpcd().power(lun, action, atr, atr_length) : IFD_COMMUNICATION_ERROR;
}

RESPONSECODE IFDHTransmitToICC(DWORD lun, SCARD_IO_HEADER send_pci, PUCHAR tx, DWORD tx_length,
                               PUCHAR rx, PDWORD rx_length, PSCARD_IO_HEADER recv_pci) {
    return vpcd().transmit ? vpcd().transmit(lun, send_pci, tx, tx_length, rx, rx_length, recv_pci)
                           : IFD_COMMUNICATION_ERROR;
}

RESPONSECODE IFDHICCPresence(DWORD lun) {
    return vpcd().presence ? vpcd().presence(lun) : IFD_COMMUNICATION_ERROR;
}

RESPONSECODE IFDHControl(DWORD lun, DWORD code, PUCHAR tx, DWORD tx_length, PUCHAR rx,
                         DWORD rx_length, LPDWORD returned) {
    return vpcd().control ? vpcd().control(lun, code, tx, tx_length, rx, rx_length, returned)
                          : IFD_ERROR_NOT_SUPPORTED;
}

}  // extern "C"
