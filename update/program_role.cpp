#include "update/program_role.h"

#include "common/text.h"
#include "update/companion_rules.h"

namespace tindra {

bool NamesRole(const ProgramNames& names, std::u16string_view roleFile) {
  const std::u16string role = AsciiUpper(std::u16string(roleFile));
  const std::u16string stem = AsciiUpper(std::u16string(FileStem(roleFile)));
  const std::u16string internal = AsciiUpper(names.internalName);
  return !role.empty() && AsciiUpper(names.originalFilename) == role &&
         (internal == role || internal == stem);
}

bool RevisionAllowed(std::optional<int32_t> revision, const RevisionRule& rule) {
  if (!rule.exact && !rule.atLeast) return true;
  if (!revision) return false;
  if (rule.exact && *revision != *rule.exact) return false;
  return !rule.atLeast || *revision >= *rule.atLeast;
}

ProgramVerdict CheckProgramFor(RoleInspector& inspector, const std::u16string& path,
                               std::u16string_view roleFile, const RevisionRule& rule) {
  const ProgramVerdict verdict = CheckProgram(inspector, path);
  if (verdict != ProgramVerdict::kTrusted) return verdict;
  if (!NamesRole(inspector.NamesOf(path), roleFile)) return ProgramVerdict::kWrongRole;
  if (!RevisionAllowed(RevisionOfVersion(inspector.VersionOf(path)), rule)) {
    return ProgramVerdict::kWrongRevision;
  }
  return ProgramVerdict::kTrusted;
}

std::optional<int32_t> TrustedRevision(RoleInspector& inspector, const std::u16string& path,
                                       std::u16string_view roleFile) {
  if (CheckProgramFor(inspector, path, roleFile) != ProgramVerdict::kTrusted) return std::nullopt;
  return RevisionOfVersion(inspector.VersionOf(path));
}

bool TrustsAnyProgram(ProgramInspector& inspector) {
  const Signature own = inspector.OwnSignature();
  return SameSigner(own, own);
}

}  // namespace tindra
