#include "update/win32/program_trust_win32.h"

// After windows.h, which they need.
#include <softpub.h>
#include <wintrust.h>

#include <span>
#include <vector>

#include "common/errors.h"
#include "common/msgbox.h"
#include "common/win32/ansi.h"
#include "common/win32/handle.h"
#include "common/win32/program_path.h"
#include "fileutil/modFile.h"
#include "fileutil/pe_version.h"
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

// The signing certificate's public key.
std::string SignerKey(CRYPT_PROVIDER_DATA* provider) {
  CRYPT_PROVIDER_SGNR* signer = WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
  CRYPT_PROVIDER_CERT* cert = signer ? WTHelperGetProvCertFromChain(signer, 0) : nullptr;
  if (!cert || !cert->pCert || !cert->pCert->pCertInfo) return {};
  return KeyText(cert->pCert->pCertInfo->SubjectPublicKeyInfo);
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

// The version text of `path` from the current block source. The reader's message
// boxes are swallowed: a broken file is not the user's business, it simply fails
// its check.
std::u16string VersionTextQuietly(const std::u16string& path) {
  SilentMessageBoxes silent;
  ScopedMessageBoxes scope(silent);
  return GetFileVerNumber(path, true, true);
}

// The names of the version block of `path` from the current block source, read
// without message boxes.
ProgramNames NamesQuietly(const std::u16string& path) {
  SilentMessageBoxes silent;
  ScopedMessageBoxes scope(silent);
  const FileVerList entries = GetFileVer(path);
  if (entries.IsEmpty()) return {};
  // The reader gives "InternalName: value"; InternalName and OriginalFilename are its
  // entries 3 and 5.
  auto value = [&](int32_t index, std::u16string_view key) {
    const std::u16string& entry = entries[index];
    const std::u16string prefix = std::u16string(key) + u": ";
    return entry.starts_with(prefix) ? entry.substr(prefix.size()) : std::u16string();
  };
  return ProgramNames{value(5, u"OriginalFilename"), value(3, u"InternalName")};
}

// As much of a file as the image check reads.
constexpr size_t kHeadBytes = 4096;

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
  s.signerKey = SignerKey(provider);
  return s;
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

Signature Win32ProgramInspector::SignatureOf(const std::u16string& path) {
  return VerifySignature(path);
}

std::string Win32ProgramInspector::HeadOf(const std::u16string& path) {
  UniqueFile file(CreateFileW(WidePtr(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return {};
  std::string head(kHeadBytes, '\0');
  DWORD got = 0;
  if (!ReadFile(file.get(), head.data(), static_cast<DWORD>(head.size()), &got, nullptr)) return {};
  head.resize(got);
  return head;
}

std::u16string Win32ProgramInspector::VersionOf(const std::u16string& path) {
  return VersionTextQuietly(path);
}

ProgramNames Win32ProgramInspector::NamesOf(const std::u16string& path) {
  return NamesQuietly(path);
}

namespace {

// A version-block source over one image in memory: the held program's bytes.
class ImageVersionSource : public VersionBlockSource {
 public:
  explicit ImageVersionSource(const std::string& image)
      : resource_(ReadPeVersionResource(std::span<const uint8_t>(
            reinterpret_cast<const uint8_t*>(image.data()), image.size()))) {}
  uint32_t GetInfoSize(const std::u16string&, uint32_t& handle) override {
    handle = 0;
    return resource_ ? VersionInfoBufferSize(resource_->size()) : 0;
  }
  bool GetInfo(const std::u16string&, uint32_t, uint32_t size, void* buffer) override {
    if (!resource_ || size < VersionInfoBufferSize(resource_->size())) return false;
    FillVersionInfoBuffer(*resource_, std::span<uint8_t>(static_cast<uint8_t*>(buffer), size));
    return true;
  }

 private:
  std::optional<std::vector<uint8_t>> resource_;
};

}  // namespace

std::optional<HeldProgram> HeldProgram::Open(const std::u16string& path, HoldFor purpose) {
  // The loader opens a program it starts for reading and execution, sharing reads:
  // a holder with delete access would keep it from starting.
  const DWORD access = purpose == HoldFor::kRename ? GENERIC_READ | DELETE : GENERIC_READ;
  HANDLE file = CreateFileW(WidePtr(path), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  HeldProgram held(path, file);
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

Signature HeldProgram::SignatureOf(const std::u16string&) {
  return VerifySignature(path_, file_.get());
}

std::string HeldProgram::HeadOf(const std::u16string&) { return bytes_.substr(0, kHeadBytes); }

std::u16string HeldProgram::VersionOf(const std::u16string&) {
  ImageVersionSource source(bytes_);
  ScopedVersionBlockSource use(source);
  return VersionTextQuietly(path_);
}

ProgramNames HeldProgram::NamesOf(const std::u16string&) {
  ImageVersionSource source(bytes_);
  ScopedVersionBlockSource use(source);
  return NamesQuietly(path_);
}

bool HeldProgram::MoveOver(const std::u16string& target) {
  // FILE_RENAME_INFO with the target's full path after the fixed part.
  const std::wstring name = ToWide(target);
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
  CopyMemory(info->FileName, name.data(), info->FileNameLength);
  if (!SetFileInformationByHandle(file_.get(), FileRenameInfo, info,
                                  static_cast<DWORD>(buffer.size()))) {
    return false;
  }
  file_.reset();
  return true;
}

}  // namespace tindra::win32
