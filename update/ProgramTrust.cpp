#include "update/ProgramTrust.h"

#include "update/CompanionRules.h"

namespace tindra {

namespace {

bool Sound(const Signature& s) {
  return (s.status == SignatureStatus::kValid || s.status == SignatureStatus::kUntrustedRoot) &&
         !s.signerKey.empty();
}

}  // namespace

bool SameSigner(const Signature& self, const Signature& file) {
  return Sound(self) && Sound(file) && self.signerKey == file.signerKey;
}

ProgramVerdict CheckProgram(ProgramInspector& inspector, const std::u16string& path,
                            std::optional<int32_t> revision) {
  if (!SameSigner(inspector.OwnSignature(), inspector.SignatureOf(path))) {
    return ProgramVerdict::kForeign;
  }
  if (!LooksLikeWindowsProgram(inspector.HeadOf(path))) return ProgramVerdict::kNotAProgram;
  if (revision && RevisionOfVersion(inspector.VersionOf(path)) != revision) {
    return ProgramVerdict::kWrongRevision;
  }
  return ProgramVerdict::kTrusted;
}

}  // namespace tindra
