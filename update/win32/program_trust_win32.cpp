#include "update/win32/program_trust_win32.h"

// After windows.h, which they need.
#include <bcrypt.h>
#include <softpub.h>
#include <wintrust.h>

#include <span>
#include <vector>

#include "common/errors.h"
#include "common/win32/ansi.h"
#include "common/win32/handle.h"
#include "common/win32/program_path.h"
#include "update/win32/trusted_keys.h"

namespace tindra::win32 {

namespace {

// The portable mapping names the platform's answers by value.
static_assert(trust_result::kProviderUnknown == static_cast<uint32_t>(TRUST_E_PROVIDER_UNKNOWN));
static_assert(trust_result::kSubjectFormUnknown ==
              static_cast<uint32_t>(TRUST_E_SUBJECT_FORM_UNKNOWN));
static_assert(trust_result::kNoSignature == static_cast<uint32_t>(TRUST_E_NOSIGNATURE));
static_assert(trust_result::kExpired == static_cast<uint32_t>(CERT_E_EXPIRED));
static_assert(trust_result::kValidityPeriodNesting ==
              static_cast<uint32_t>(CERT_E_VALIDITYPERIODNESTING));
static_assert(trust_result::kUntrustedRoot == static_cast<uint32_t>(CERT_E_UNTRUSTEDROOT));
static_assert(trust_result::kChaining == static_cast<uint32_t>(CERT_E_CHAINING));
static_assert(trust_result::kUntrustedTestRoot == static_cast<uint32_t>(CERT_E_UNTRUSTEDTESTROOT));
static_assert(trust_result::kBadDigest == static_cast<uint32_t>(TRUST_E_BAD_DIGEST));
static_assert(trust_result::kSignatureSteps[0] == TRUSTERROR_STEP_FINAL_WVTINIT &&
              trust_result::kSignatureSteps[1] == TRUSTERROR_STEP_FINAL_INITPROV &&
              trust_result::kSignatureSteps[2] == TRUSTERROR_STEP_FINAL_OBJPROV &&
              trust_result::kSignatureSteps[3] == TRUSTERROR_STEP_FINAL_SIGPROV);

// The verification state WinVerifyTrust keeps between its verify and close calls.
class TrustState {
 public:
  TrustState(const std::wstring& path, HANDLE file) {
    info_.cbStruct = sizeof(info_);
    info_.pcwszFilePath = path.c_str();
    info_.hFile = file;
    data_.cbStruct = sizeof(data_);
    data_.dwUIChoice = WTD_UI_NONE;
    data_.fdwRevocationChecks = WTD_REVOKE_NONE;
    data_.dwUnionChoice = WTD_CHOICE_FILE;
    data_.pFile = &info_;
    data_.dwStateAction = WTD_STATEACTION_VERIFY;
    // No network: revocation lists and missing certificates are not fetched.
    data_.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE;
    result_ = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
  }
  ~TrustState() {
    data_.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
  }
  TrustState(const TrustState&) = delete;
  TrustState& operator=(const TrustState&) = delete;

  LONG result() const { return result_; }
  CRYPT_PROVIDER_DATA* provider() const {
    return WTHelperProvDataFromStateData(data_.hWVTStateData);
  }

 private:
  GUID action_ = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  WINTRUST_FILE_INFO info_ = {};
  WINTRUST_DATA data_ = {};
  LONG result_ = 0;
};

// A public key as the trust rule compares it: its algorithm and key bits.
std::string KeyText(const CERT_PUBLIC_KEY_INFO& key) {
  if (!key.Algorithm.pszObjId || !key.PublicKey.pbData || key.PublicKey.cbData == 0) return {};
  std::string out = key.Algorithm.pszObjId;
  out.push_back('\0');
  out.append(reinterpret_cast<const char*>(key.PublicKey.pbData), key.PublicKey.cbData);
  return out;
}

// The signing certificate.
PCCERT_CONTEXT SignerCertificate(CRYPT_PROVIDER_DATA* provider) {
  CRYPT_PROVIDER_SGNR* signer = WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
  CRYPT_PROVIDER_CERT* cert = signer ? WTHelperGetProvCertFromChain(signer, 0) : nullptr;
  if (!cert || !cert->pCert || !cert->pCert->pCertInfo) return nullptr;
  return cert->pCert;
}

// The extended key usage that the certificate's own extension states, as the
// platform decodes it: nothing when it has none; an empty list when it cannot be
// read.
std::optional<std::vector<std::string>> CertificateUsages(PCCERT_CONTEXT cert) {
  DWORD size = 0;
  const DWORD fromExtension = CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG;
  if (!CertGetEnhancedKeyUsage(cert, fromExtension, nullptr, &size)) {
    if (GetLastError() == static_cast<DWORD>(CRYPT_E_NOT_FOUND)) return std::nullopt;
    return std::vector<std::string>();
  }
  std::vector<BYTE> buffer(size);
  auto* usage = reinterpret_cast<CERT_ENHKEY_USAGE*>(buffer.data());
  if (!CertGetEnhancedKeyUsage(cert, fromExtension, usage, &size)) {
    if (GetLastError() == static_cast<DWORD>(CRYPT_E_NOT_FOUND)) return std::nullopt;
    return std::vector<std::string>();
  }
  std::vector<std::string> oids;
  for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
    if (usage->rgpszUsageIdentifier[i]) oids.emplace_back(usage->rgpszUsageIdentifier[i]);
  }
  return oids;
}

// The further keys compiled into this program (DER SubjectPublicKeyInfo, made from
// certificates at build time), decoded by the platform into KeyText's form. A key
// that does not decode is left out.
std::vector<std::string> CompiledTrustedKeys() {
  std::vector<std::string> keys;
  for (const tindra_key_blob* k = tindra_further_trusted_keys; k->der; ++k) {
    CERT_PUBLIC_KEY_INFO* info = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, k->der,
                             static_cast<DWORD>(k->size), CRYPT_DECODE_ALLOC_FLAG, nullptr, &info,
                             &size) ||
        !info) {
      continue;
    }
    std::string key = KeyText(*info);
    LocalFree(info);
    if (!key.empty()) keys.push_back(std::move(key));
  }
  return keys;
}

}  // namespace

Signature VerifySignature(const std::u16string& path, HANDLE file) {
  Signature s;
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return s;
  const std::wstring wide = ToWide(path);
  TrustState state(wide, file);
  CRYPT_PROVIDER_DATA* provider = state.provider();
  std::vector<uint32_t> steps;
  if (provider && provider->padwTrustStepErrors) {
    steps.assign(provider->padwTrustStepErrors,
                 provider->padwTrustStepErrors + provider->cdwTrustStepErrors);
  }
  s.status = StatusOfCheck(static_cast<uint32_t>(state.result()), steps);
  if (s.status != SignatureStatus::kValid && s.status != SignatureStatus::kUntrustedRoot &&
      s.status != SignatureStatus::kExpired) {
    return s;
  }
  if (!provider) {
    s.status = SignatureStatus::kBadSignature;
    return s;
  }
  PCCERT_CONTEXT signer = SignerCertificate(provider);
  // A certificate whose own usage excludes code signing vouches for no program.
  if (!signer || !UsageAllowsCodeSigning(CertificateUsages(signer))) {
    s.status = SignatureStatus::kBadSignature;
    return s;
  }
  s.signerKey = KeyText(signer->pCertInfo->SubjectPublicKeyInfo);
  return s;
}

ReleaseFloors BuildFloors() {
  ReleaseFloors floors;
  floors.checker = TINDRA_CHECKER_FLOOR;
  floors.replacer = TINDRA_REPLACER_FLOOR;
  floors.program = TINDRA_PROGRAM_FLOOR;
  return floors;
}

Signature Win32ProgramInspector::OwnSignature() {
  if (!own_) {
    try {
      own_ = VerifySignature(ProgramPath());
    } catch (const AppError&) {
      own_ = Signature{};
    }
    own_->alsoTrusted = CompiledTrustedKeys();
  }
  return *own_;
}

std::string Win32ProgramInspector::Sha256(std::string_view bytes) {
  if (bytes.size() > kMaxProgramBytes) return {};
  BYTE digest[32];
  DWORD size = sizeof(digest);
  if (!CryptHashCertificate2(BCRYPT_SHA256_ALGORITHM, 0, nullptr,
                             reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size()), digest, &size) ||
      size != sizeof(digest)) {
    return {};
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (BYTE b : digest) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
  }
  return text;
}

namespace {

// The path the file system gives an open file or folder, links resolved.
std::optional<std::wstring> FinalPath(HANDLE handle) {
  const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
  const DWORD size = GetFinalPathNameByHandleW(handle, nullptr, 0, flags);
  if (size == 0) return std::nullopt;
  std::wstring path(size, L'\0');
  const DWORD got = GetFinalPathNameByHandleW(handle, path.data(), size, flags);
  if (got == 0 || got >= size) return std::nullopt;
  path.resize(got);
  return path;
}

// Whether the open `file` is the file named `path` in its folder, not one that a link
// at that name leads to elsewhere: the file system's path of the file is that of the
// folder with the name appended. False when the folder cannot be opened.
bool IsFileAtName(const std::u16string& path, HANDLE file) {
  const size_t cut = path.find_last_of(u"\\/");
  if (cut == std::u16string::npos) return false;
  std::u16string folder = path.substr(0, cut);
  if (folder.empty() || folder.back() == u':') folder += u'\\';
  UniqueFile dir(CreateFileW(WidePtr(folder), FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!dir) return false;
  std::optional<std::wstring> expected = FinalPath(dir.get());
  const std::optional<std::wstring> actual = FinalPath(file);
  // Where the platform cannot name them (Wine cannot beyond MAX_PATH), the reparse
  // point test above is all there is.
  if (!expected || !actual) return true;
  if (!expected->empty() && expected->back() == L'\\') expected->pop_back();
  *expected += L'\\' + ToWide(path.substr(cut + 1));
  return CompareStringOrdinal(expected->c_str(), static_cast<int>(expected->size()),
                              actual->c_str(), static_cast<int>(actual->size()),
                              TRUE) == CSTR_EQUAL;
}

}  // namespace

std::optional<HeldProgram> HeldProgram::Open(const std::u16string& path, HoldFor purpose) {
  // The loader opens a program it starts for reading and execution, sharing reads:
  // a holder with delete access would keep it from starting.
  const DWORD access = purpose == HoldFor::kRename ? GENERIC_READ | DELETE : GENERIC_READ;
  // A reparse point is opened as itself, not followed, and then refused.
  HANDLE file = CreateFileW(WidePtr(path), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  HeldProgram held(path, file);
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
      !IsFileAtName(path, file)) {
    return std::nullopt;
  }
  if (!held.ReadAll()) return std::nullopt;
  return held;
}

bool HeldProgram::ReadAll() {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file_.get(), &size) || size.QuadPart > kMaxProgramBytes) return false;
  bytes_.resize(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  return bytes_.empty() ||
         (ReadFile(file_.get(), bytes_.data(), static_cast<DWORD>(bytes_.size()), &got, nullptr) &&
          got == bytes_.size());
}

Signature HeldProgram::HeldSignature() { return VerifySignature(path_, file_.get()); }

bool HeldProgram::MoveOver(const std::u16string& target) {
  // FILE_RENAME_INFO with the target's full path after the fixed part.
  const std::wstring name = ToWide(target);
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
  CopyMemory(info->FileName, name.data(), info->FileNameLength);
  // A rename does not replace a read-only file: the old program's attribute goes
  // first, and comes back when the rename fails.
  const DWORD attributes = GetFileAttributesW(name.c_str());
  const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES &&
                        !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                        (attributes & FILE_ATTRIBUTE_READONLY);
  if (readOnly) SetFileAttributesW(name.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (!SetFileInformationByHandle(file_.get(), FileRenameInfo, info,
                                  static_cast<DWORD>(buffer.size()))) {
    if (readOnly) SetFileAttributesW(name.c_str(), attributes);
    return false;
  }
  file_.reset();
  return true;
}

}  // namespace tindra::win32
