#include "update/program_role.h"

#include "common/text.h"
#include "update/install_files.h"

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

RevisionRule FloorRule(int32_t floor) {
  RevisionRule rule;
  if (floor > 0) rule.atLeast = floor;
  return rule;
}

ProgramNames NamesOf(const VersionStrings& strings) {
  auto text = [&](const char16_t* key) {
    const auto it = strings.find(key);
    return it == strings.end() || it->second.damaged ? std::u16string() : it->second.text;
  };
  return ProgramNames{text(u"OriginalFilename"), text(u"InternalName")};
}

ProgramCheck CheckHeldProgram(ProgramInspector& inspector, HeldFile& held,
                              std::u16string_view roleFile, const RevisionRule& rule) {
  ProgramCheck check;
  const std::string_view image = held.Image();
  check.signature = held.HeldSignature();
  check.verdict = CheckSignedImage(inspector.OwnSignature(), check.signature, image);
  if (check.verdict != ProgramVerdict::kTrusted) return check;
  const std::optional<VersionStrings> strings = VersionStringsOfImage(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(image.data()), image.size()));
  if (strings) check.names = NamesOf(*strings);
  if (!strings || !NamesRole(check.names, roleFile)) {
    check.verdict = ProgramVerdict::kWrongRole;
    return check;
  }
  // The revision is the build number of its FileVersion.
  check.revision = BuildNumberOf(*strings);
  if (!RevisionAllowed(check.revision, rule)) check.verdict = ProgramVerdict::kWrongRevision;
  return check;
}

bool TrustsAnyProgram(ProgramInspector& inspector) {
  const Signature own = inspector.OwnSignature();
  return SameSigner(own, own);
}

}  // namespace tindra
