#include "update/install_files.h"

#include "common/text.h"
#include "update/companion_rules.h"

namespace tindra {

std::u16string InstallFiles::In(std::u16string_view name) const {
  return folder.empty() ? std::u16string() : folder + u"\\" + std::u16string(name);
}

std::u16string InstallFiles::Program() const { return In(exeFile); }

std::u16string InstallFiles::NewProgram() const { return In(kNewPrefix + exeFile); }

std::u16string InstallFiles::FailedRecord() const { return In(FailedInstallFileName(exeFile)); }

std::u16string InstallFiles::Pending() const { return In(PendingInstallFileName(exeFile)); }

std::u16string InstallFiles::HandBack() const { return In(HandBackFileName(exeFile)); }

std::u16string InstallFiles::Backup(int n) const {
  const std::u16string program = Program();
  if (program.empty()) return program;
  return program + u".bak" + (n == 1 ? u"" : ToDecimal(n));
}

std::u16string FailedInstallFileName(std::u16string_view exeFile) {
  return std::u16string(FileStem(exeFile)) + u"_failed.txt";
}

std::u16string PendingInstallFileName(std::u16string_view exeFile) {
  return std::u16string(FileStem(exeFile)) + u"_pending.txt";
}

std::u16string HandBackFileName(std::u16string_view exeFile) {
  return std::u16string(FileStem(exeFile)) + u"_handback.txt";
}

}  // namespace tindra
