// The names of a program's files in the program folder.
#include "update/install_files.h"

#include <gtest/gtest.h>

namespace tindra {
namespace {

TEST(InstallFiles, NamesEveryFileBesideTheProgramAndNothingWithoutAFolder) {
  struct Row {
    const char* what;
    InstallFiles files;
    std::u16string program, newProgram, record, pending, handBack, backup1, backup2, other;
  };
  const Row rows[] = {
      {"the program",
       {u"C:\\Prog", u"Tindra.exe"},
       u"C:\\Prog\\Tindra.exe",
       u"C:\\Prog\\New_Tindra.exe",
       u"C:\\Prog\\Tindra_failed.txt",
       u"C:\\Prog\\Tindra_pending.txt",
       u"C:\\Prog\\Tindra_handback.txt",
       u"C:\\Prog\\Tindra.exe.bak",
       u"C:\\Prog\\Tindra.exe.bak2",
       u"C:\\Prog\\Pellmora.exe"},
      {"a companion at a drive's root",
       {u"C:\\", u"Vantorel.exe"},
       u"C:\\\\Vantorel.exe",
       u"C:\\\\New_Vantorel.exe",
       u"C:\\\\Vantorel_failed.txt",
       u"C:\\\\Vantorel_pending.txt",
       u"C:\\\\Vantorel_handback.txt",
       u"C:\\\\Vantorel.exe.bak",
       u"C:\\\\Vantorel.exe.bak2",
       u"C:\\\\Pellmora.exe"},
      {"the folder unknown", {u"", u"Tindra.exe"}, u"", u"", u"", u"", u"", u"", u"", u""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const InstallFiles& f = row.files;
    EXPECT_EQ(f.Program(), row.program);
    EXPECT_EQ(f.NewProgram(), row.newProgram);
    EXPECT_EQ(f.FailedRecord(), row.record);
    EXPECT_EQ(f.Pending(), row.pending);
    EXPECT_EQ(f.HandBack(), row.handBack);
    EXPECT_EQ(f.Backup(1), row.backup1);
    EXPECT_EQ(f.Backup(2), row.backup2);
    EXPECT_EQ(f.In(u"Pellmora.exe"), row.other);
  }
}

}  // namespace
}  // namespace tindra
