#pragma once
// The files of one program in the program folder: the program itself, the new program
// the checker leaves for the replacer, the records kept beside it and the old
// program's backups. The launcher, the checker and the replacer name them all here,
// and take a path's file name and a file name's stem here.
#include <string>
#include <string_view>

namespace tindra {

// The prefix of the new program the checker leaves for the replacer ("New_Tindra.exe").
inline constexpr char16_t kNewPrefix[] = u"New_";

// A file name up to, not including, its last "." ("Tindra.exe" -> "Tindra"); all of
// it when it has none.
std::u16string_view FileStem(std::u16string_view fileName);

// The file name at the end of a path.
std::u16string FileNameOf(std::u16string_view path);

// Every path is empty while the folder is unknown (empty), so that nothing is looked
// for or written anywhere else. A drive's root ("C:\") gives "C:\\Tindra.exe", which
// the file system accepts.
struct InstallFiles {
  std::u16string folder;
  std::u16string exeFile;  // "Tindra.exe"

  // `name` in the folder.
  std::u16string In(std::u16string_view name) const;
  std::u16string Program() const;     // Tindra.exe
  std::u16string NewProgram() const;  // New_Tindra.exe, which the checker leaves
  // Tindra_failed.txt: the installs that failed (for a companion: the fetches refused).
  std::u16string FailedRecord() const;
  std::u16string Pending() const;   // Tindra_pending.txt: a hand-over not yet decided
  std::u16string HandBack() const;  // Tindra_handback.txt: the replacer's word that it failed
  // Tindra_installed.txt: the replacer's word to the new program it starts.
  std::u16string Installed() const;
  // Tindra_install.lock: held by the replacer until the new program is in place.
  std::u16string InstallLock() const;
  // The old program's backup: Tindra.exe.bak, then Tindra.exe.bak2 to .bak9.
  std::u16string Backup(int n) const;
};

}  // namespace tindra
