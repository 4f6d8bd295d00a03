#include "update/install_files.h"

#include "common/text.h"

namespace tindra {

std::u16string_view FileStem(std::u16string_view fileName) {
  return fileName.substr(0, fileName.rfind(u'.'));
}

std::u16string FileNameOf(std::u16string_view path) {
  const size_t slash = path.find_last_of(u"\\/");
  return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

namespace {

// A record beside the program, named after its stem: "Tindra.exe" -> "Tindra" + suffix.
std::u16string RecordName(std::u16string_view exeFile, std::u16string_view suffix) {
  return std::u16string(FileStem(exeFile)) + std::u16string(suffix);
}

}  // namespace

std::u16string InstallFiles::In(std::u16string_view name) const {
  return folder.empty() ? std::u16string() : folder + u"\\" + std::u16string(name);
}

std::u16string InstallFiles::Program() const { return In(exeFile); }

std::u16string InstallFiles::NewProgram() const { return In(kNewPrefix + exeFile); }

std::u16string InstallFiles::FailedRecord() const {
  return In(RecordName(exeFile, u"_failed.txt"));
}

std::u16string InstallFiles::Pending() const { return In(RecordName(exeFile, u"_pending.txt")); }

std::u16string InstallFiles::HandBack() const { return In(RecordName(exeFile, u"_handback.txt")); }

std::u16string InstallFiles::Installed() const {
  return In(RecordName(exeFile, u"_installed.txt"));
}

std::u16string InstallFiles::InstallLock() const {
  return In(RecordName(exeFile, u"_install.lock"));
}

std::u16string InstallFiles::Backup(int n) const {
  const std::u16string program = Program();
  if (program.empty()) return program;
  return program + u".bak" + (n == 1 ? u"" : ToDecimal(n));
}

}  // namespace tindra
