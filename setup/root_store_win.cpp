#include "setup/root_store_win.h"

#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>

#include <iterator>
#include <vector>

#include "qardex_constants.h"
#include "setup/certificate_rules.h"
#include "setup/install_layout.h"
#include "setup/local_roots_win.h"
#include "setup/trusted_root.h"
#include "common/win_handles.h"

namespace qardex::setup {

namespace {

// The DER bytes inside the PEM armour; empty when the text is not armoured base64.
std::vector<BYTE> DecodePem(const std::string& text) {
  const DWORD length = static_cast<DWORD>(text.size());
  DWORD size = 0;
  if (!CryptStringToBinaryA(text.data(), length, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr,
                            nullptr) ||
      size == 0) {
    return {};
  }
  std::vector<BYTE> der(size);
  if (!CryptStringToBinaryA(text.data(), length, CRYPT_STRING_BASE64HEADER, der.data(), &size,
                            nullptr, nullptr)) {
    return {};
  }
  der.resize(size);
  return der;
}

const CERT_EXTENSION* Extension(PCCERT_CONTEXT certificate, const char* oid) {
  const CERT_INFO* info = certificate->pCertInfo;
  return CertFindExtension(oid, info->cExtension, info->rgExtension);
}

bool IsCa(PCCERT_CONTEXT certificate) {
  const CERT_EXTENSION* extension = Extension(certificate, szOID_BASIC_CONSTRAINTS2);
  CERT_BASIC_CONSTRAINTS2_INFO basic = {};
  DWORD size = sizeof basic;
  return extension != nullptr &&
         CryptDecodeObjectEx(X509_ASN_ENCODING, X509_BASIC_CONSTRAINTS2, extension->Value.pbData,
                             extension->Value.cbData, 0, nullptr, &basic, &size) &&
         basic.fCA;
}

PermittedName PermittedNameOf(const CERT_GENERAL_SUBTREE& subtree) {
  PermittedName name;
  // A subtree with a minimum or maximum distance is not one a plain constraint would carry.
  if (subtree.dwMinimum != 0 || subtree.fMaximum) return name;
  const CERT_ALT_NAME_ENTRY& base = subtree.Base;
  if (base.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME && base.pwszDNSName != nullptr) {
    for (const wchar_t* c = base.pwszDNSName; *c != L'\0'; ++c) {
      if (*c > 0x7f) return name;
      name.dnsName += static_cast<char>(*c);
    }
    name.kind = PermittedName::Kind::kDns;
  } else if (base.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS) {
    name.addressAndMask.assign(base.IPAddress.pbData,
                               base.IPAddress.pbData + base.IPAddress.cbData);
    name.kind = PermittedName::Kind::kIpAddress;
  }
  return name;
}

RootFacts FactsOf(PCCERT_CONTEXT certificate) {
  RootFacts facts;
  facts.isCa = IsCa(certificate);
  const CERT_EXTENSION* extension = Extension(certificate, szOID_NAME_CONSTRAINTS);
  if (extension == nullptr || !extension->fCritical) return facts;
  CERT_NAME_CONSTRAINTS_INFO* decoded = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_NAME_CONSTRAINTS, extension->Value.pbData,
                           extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded,
                           &size)) {
    return facts;
  }
  const common::LocalMemory<> owner(decoded);
  facts.hasCriticalNameConstraints = true;
  for (DWORD i = 0; i < decoded->cPermittedSubtree; ++i) {
    facts.permitted.push_back(PermittedNameOf(decoded->rgPermittedSubtree[i]));
  }
  return facts;
}

}  // namespace

std::optional<BrowserRoot> RootForBrowsers(const std::string& pemText) {
  if (!ImportSizeAccepted(pemText.size())) return std::nullopt;
  std::vector<BYTE> der = DecodePem(pemText);
  const common::CertContext certificate(
      der.empty() ? nullptr
                  : CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                 der.data(), static_cast<DWORD>(der.size())));
  if (!certificate) return std::nullopt;
  // The serial's bytes come least significant first.
  const CRYPT_INTEGER_BLOB& serial = certificate->pCertInfo->SerialNumber;
  const std::vector<unsigned char> bigEndian(
      std::make_reverse_iterator(serial.pbData + serial.cbData),
      std::make_reverse_iterator(serial.pbData));
  DWORD length = 0;
  const DWORD flags = CRYPT_STRING_BASE64HEADER;
  if (!CryptBinaryToStringA(der.data(), static_cast<DWORD>(der.size()), flags, nullptr, &length)) {
    return std::nullopt;
  }
  std::string pem(length, '\0');
  if (!CryptBinaryToStringA(der.data(), static_cast<DWORD>(der.size()), flags, pem.data(),
                            &length)) {
    return std::nullopt;
  }
  pem.resize(length);
  const std::string digits = SerialDigits(bigEndian);
  if (digits.empty()) return std::nullopt;
  return BrowserRoot{digits, pem};
}

RootImport AddLocalServiceRoot(const std::string& pemText) {
  if (!ImportSizeAccepted(pemText.size())) return {ImportOutcome::kUnreadable, {}};
  const std::vector<BYTE> der = DecodePem(pemText);
  if (der.empty()) return {ImportOutcome::kNotACertificate, {}};
  const common::CertContext certificate(CertCreateCertificateContext(
      X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
  if (!certificate) return {ImportOutcome::kNotACertificate, {}};
  if (!ConfinedTo(FactsOf(certificate.get()), build::kLocalServiceHost, build::kLocalServiceAddress,
                  build::kLocalServiceLoopbackHost)) {
    return {ImportOutcome::kRefused, {}};
  }

  const common::CertStore store = OpenMachineRootStore();
  if (!store) return {ImportOutcome::kStoreRefused, {}};
  ImportOutcome outcome = ImportOutcome::kAdded;
  if (!CertAddCertificateContextToStore(store.get(), certificate.get(), CERT_STORE_ADD_NEW,
                                        nullptr)) {
    if (static_cast<HRESULT>(GetLastError()) != CRYPT_E_EXISTS) {
      return {ImportOutcome::kStoreRefused, {}};
    }
    outcome = ImportOutcome::kAlreadyPresent;
  }
  if (!CommitStore(store.get())) return {ImportOutcome::kStoreRefused, {}};
  return {outcome, std::vector<BYTE>(certificate->pbCertEncoded,
                                     certificate->pbCertEncoded + certificate->cbCertEncoded)};
}

ImportOutcome TrustLocalServiceRoot(const std::string& pemText, const LineSink& console,
                                    const LineSink& log) {
  const RootImport imported = AddLocalServiceRoot(pemText);
  if (imported.outcome == ImportOutcome::kRefused) {
    const std::string line =
        Format(text::kRootRefused, build::kLocalServiceHost, build::kLocalServiceAddress);
    console(line);
    log(line);
  }
  // Earlier roots are a risk for as long as they are valid: none stays beside this run's.
  RemoveLocalServiceRoots(imported.encoded);
  return imported.outcome;
}

}  // namespace qardex::setup
