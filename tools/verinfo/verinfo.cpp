#include "tools/verinfo/verinfo.h"

#include <cstdio>
#include <string>

#include "common/msgbox.h"
#include "common/text.h"
#include "fileutil/modFile.h"

namespace tindra {

namespace {

void WriteBytes(std::FILE* f, const std::string& bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), f);
}

}  // namespace

int VerinfoMain(const std::vector<std::u16string>& args) {
  if (args.size() != 1) {
    WriteBytes(stderr, "usage: tindra-verinfo FILE\n");
    return 2;
  }
  const std::u16string& fileName = args[0];
  StderrMessageBoxes boxes;
  ScopedMessageBoxes scoped(boxes);

  const FileVerList list = GetFileVer(fileName);
  if (list.IsEmpty()) {
    WriteBytes(stderr, "tindra-verinfo: " + Utf16ToUtf8(fileName) +
                           ": no version information could be read\n");
    return 1;
  }
  std::string out;
  for (const std::u16string& entry : list.Entries()) out += Utf16ToUtf8(entry) + "\n";
  out += "Version number: " + Utf16ToUtf8(GetFileVerNumber(fileName, true, true)) + "\n";
  WriteBytes(stdout, out);
  std::fflush(stdout);
  return 0;
}

}  // namespace tindra
