#include "update/program_trust.h"

#include "fileutil/pe_headers.h"

namespace tindra {

namespace {

bool Sound(const Signature& s) {
  return (s.status == SignatureStatus::kValid || s.status == SignatureStatus::kUntrustedRoot ||
          s.status == SignatureStatus::kExpired) &&
         !s.signerKey.empty();
}

bool SignatureStepsSound(std::span<const uint32_t> stepErrors) {
  for (uint32_t step : trust_result::kSignatureSteps) {
    if (step >= stepErrors.size() || stepErrors[step] != 0) return false;
  }
  return true;
}

}  // namespace

bool SameSigner(const Signature& self, const Signature& file) {
  if (!Sound(self) || !Sound(file)) return false;
  if (file.signerKey == self.signerKey) return true;
  for (const std::string& key : self.alsoTrusted) {
    if (!key.empty() && file.signerKey == key) return true;
  }
  return false;
}

SignatureStatus StatusOfCheck(uint32_t result, std::span<const uint32_t> stepErrors) {
  namespace r = trust_result;
  switch (result) {
    case r::kOk:
      return SignatureStatus::kValid;
    case r::kUntrustedRoot:
    case r::kChaining:
    case r::kUntrustedTestRoot:
      return SignatureStepsSound(stepErrors) ? SignatureStatus::kUntrustedRoot
                                             : SignatureStatus::kBadSignature;
    case r::kExpired:
    case r::kValidityPeriodNesting:
      return SignatureStepsSound(stepErrors) ? SignatureStatus::kExpired
                                             : SignatureStatus::kBadSignature;
    case r::kNoSignature:
    case r::kSubjectFormUnknown:
    case r::kProviderUnknown:
      return SignatureStatus::kNoSignature;
    case r::kBadDigest:
      return SignatureStatus::kBadDigest;
    default:
      return SignatureStatus::kBadSignature;
  }
}

bool UsageAllowsCodeSigning(const std::optional<std::vector<std::string>>& usages) {
  if (!usages) return true;
  for (const std::string& usage : *usages) {
    if (usage == kCodeSigningUsage) return true;
  }
  return false;
}

bool LooksLikeWindowsProgram(std::string_view head) {
  const std::optional<PeHeaders> headers =
      ReadPeHeaders(SpanReader({reinterpret_cast<const uint8_t*>(head.data()), head.size()}));
  if (!headers) return false;
  const uint16_t kExecutable = 0x0002;
  const uint16_t kDll = 0x2000;
  return (headers->characteristics & kExecutable) && !(headers->characteristics & kDll) &&
         (headers->magic == kPe32Magic || headers->magic == kPe32PlusMagic);
}

ProgramVerdict CheckSignedImage(const Signature& own, const Signature& file,
                                std::string_view image) {
  if (!SameSigner(own, file)) return ProgramVerdict::kForeign;
  if (!LooksLikeWindowsProgram(image)) return ProgramVerdict::kNotAProgram;
  return ProgramVerdict::kTrusted;
}

}  // namespace tindra
