#include "setup/local_roots_win.h"

#include <algorithm>
#include <string>

#include "setup/trusted_root.h"

namespace qardex::setup {

namespace {

// One attribute of the subject, e.g. the organisation; empty when it is missing.
std::string SubjectAttribute(PCCERT_CONTEXT certificate, const char* oid) {
  char value[256] = {};
  const DWORD length =
      CertGetNameStringA(certificate, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(oid), value,
                         static_cast<DWORD>(sizeof value));
  return length > 1 ? std::string(value, length - 1) : std::string();
}

bool IsLocalServiceRoot(PCCERT_CONTEXT certificate) {
  return IsLocalServiceRootName(SubjectAttribute(certificate, szOID_ORGANIZATION_NAME),
                                SubjectAttribute(certificate, szOID_COMMON_NAME));
}

bool SameEncoding(PCCERT_CONTEXT certificate, const std::vector<BYTE>& encoded) {
  return certificate->cbCertEncoded == encoded.size() &&
         std::equal(encoded.begin(), encoded.end(), certificate->pbCertEncoded);
}

}  // namespace

common::CertStore OpenMachineRootStore() {
  return common::CertStore(
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                    CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_OPEN_EXISTING_FLAG, L"root"));
}

bool CommitStore(HCERTSTORE store) {
  return CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr) != FALSE;
}

namespace {

// Deletes every certificate of the store that `doomed` picks, then commits.
template <class Doomed>
bool RemoveWhere(const Doomed& isDoomed) {
  const common::CertStore store = OpenMachineRootStore();
  if (!store) return false;
  // Collected first: deleting while enumerating is not safe on every platform.
  std::vector<common::CertContext> doomed;
  PCCERT_CONTEXT current = nullptr;
  while ((current = CertEnumCertificatesInStore(store.get(), current)) != nullptr) {
    if (isDoomed(current)) doomed.emplace_back(CertDuplicateCertificateContext(current));
  }
  bool ok = true;
  for (common::CertContext& certificate : doomed) {
    // The call frees the context it is given, whether it succeeds or not.
    ok = CertDeleteCertificateFromStore(certificate.release()) && ok;
  }
  return CommitStore(store.get()) && ok;
}

}  // namespace

bool RemoveLocalServiceRoots(const std::vector<BYTE>& keep) {
  return RemoveWhere([&keep](PCCERT_CONTEXT certificate) {
    return IsLocalServiceRoot(certificate) && !SameEncoding(certificate, keep);
  });
}

bool RemoveLocalServiceRoot(const std::vector<BYTE>& encoded) {
  return RemoveWhere([&encoded](PCCERT_CONTEXT certificate) {
    return IsLocalServiceRoot(certificate) && SameEncoding(certificate, encoded);
  });
}

}  // namespace qardex::setup
