// Windows only: version.dll and the portable PE reader hand over the same buffer, for
// the fixtures and for the DLLs and programs of the system folder.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/text.h"
#include "common/win32/ansi.h"
#include "common/win32/handle.h"
#include "fileutil/modFile.h"
#include "fileutil/pe_version.h"
#include "fileutil/tests/fixture_expectations.h"

namespace tindra {
namespace {

std::vector<std::u16string> SystemFiles() {
  wchar_t dir[MAX_PATH] = {};
  const UINT n = GetSystemDirectoryW(dir, MAX_PATH);
  std::vector<std::u16string> files;
  if (n == 0 || n >= MAX_PATH) return files;
  const std::u16string folder = win32::FromWide(std::wstring_view(dir, n)) + u"\\";
  for (const char16_t* pattern : {u"*.dll", u"*.exe"}) {
    WIN32_FIND_DATAW found;
    win32::UniqueFind find(FindFirstFileW(win32::WidePtr(folder + pattern), &found));
    if (!find) continue;
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        files.push_back(folder + win32::FromWide(found.cFileName));
    } while (FindNextFileW(find.get(), &found));
  }
  return files;
}

// 16-bit NE modules (the system folder holds a few) carry their block in another
// layout, which only version.dll reads.
bool IsNeModule(const std::u16string& file) {
  std::ifstream in(std::filesystem::path(file), std::ios::binary);
  char dos[64] = {};
  if (!in.read(dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
  uint32_t at = 0;
  for (int i = 3; i >= 0; --i) at = (at << 8) | static_cast<uint8_t>(dos[0x3C + i]);
  char sig[2] = {};
  in.seekg(at);
  return in.read(sig, 2) && sig[0] == 'N' && sig[1] == 'E';
}

std::vector<uint8_t> Buffer(VersionBlockSource& source, const std::u16string& file) {
  uint32_t handle = 0;
  const uint32_t size = source.GetInfoSize(file, handle);
  std::vector<uint8_t> buffer(size);
  if (size && !source.GetInfo(file, handle, size, buffer.data())) buffer.assign(1, 0xEE);
  return buffer;
}

TEST(VersionDll, HandsOverTheSameBufferAsThePeReader) {
  std::vector<std::u16string> files;
  for (const auto& f : testing::FixtureExpectations())
    files.push_back(Ascii(TINDRA_FIXTURE_DIR) + u"/" + Ascii(f.file));
  for (const char* f : testing::kFilesWithoutBlock)
    files.push_back(Ascii(TINDRA_FIXTURE_DIR) + u"/" + Ascii(f));
  const std::vector<std::u16string> system = SystemFiles();
  ASSERT_GT(system.size(), 50u);
  files.insert(files.end(), system.begin(), system.end());

  PeVersionBlockSource pe;
  size_t withBlock = 0;
  size_t neModules = 0;
  for (const std::u16string& file : files) {
    if (IsNeModule(file)) {
      ++neModules;
      continue;
    }
    SCOPED_TRACE(Utf16ToUtf8(file));
    const std::vector<uint8_t> fromDll = Buffer(DefaultVersionBlockSource(), file);
    const std::vector<uint8_t> fromPe = Buffer(pe, file);
    EXPECT_EQ(fromDll.size(), fromPe.size());
    EXPECT_TRUE(fromDll == fromPe);
    if (!fromDll.empty()) ++withBlock;
  }
  EXPECT_GT(withBlock, 20u);
  EXPECT_LT(neModules, system.size() / 4);
  std::printf("compared %zu files, %zu with a block, %zu 16-bit modules skipped\n",
              files.size() - neModules, withBlock, neModules);
}

}  // namespace
}  // namespace tindra
