// The portable reader of version resources: real fixture files, images built in
// memory, and damaged input of every kind.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "common/text.h"
#include "fileutil/pe_version.h"
#include "fileutil/tests/test_blocks.h"

namespace tindra {
namespace {

using testing::kRsrcRva;
using testing::PeImage;
using testing::Put32;
using testing::VersionRsrc;

std::vector<uint8_t> ReadFixture(const char* name) {
  std::ifstream in(std::string(TINDRA_FIXTURE_DIR) + "/" + name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(PeReader, FindsTheBlockOfAFixture) {
  const std::vector<uint8_t> file = ReadFixture("own.dll");
  ASSERT_FALSE(file.empty());
  const auto block = ReadPeVersionResource(file);
  ASSERT_TRUE(block.has_value());
  ASSERT_GE(block->size(), 6u);
  // The block starts with its own length; its key is VS_VERSION_INFO.
  EXPECT_EQ(size_t{(*block)[0]} | (size_t{(*block)[1]} << 8), block->size());
  EXPECT_EQ(
      Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(block->data() + 6), 15)),
      "VS_VERSION_INFO");
}

TEST(PeReader, ImageBuiltInMemory) {
  const std::vector<uint8_t> data = testing::OwnBlock();
  for (bool pe32Plus : {false, true}) {
    const auto block = ReadPeVersionResource(PeImage(VersionRsrc(data), pe32Plus));
    ASSERT_TRUE(block.has_value()) << pe32Plus;
    EXPECT_EQ(*block, data);
  }
}

TEST(PeReader, EveryTruncationOfAFixtureIsSafe) {
  const std::vector<uint8_t> file = ReadFixture("two_tables.dll");
  const auto whole = ReadPeVersionResource(file);
  ASSERT_TRUE(whole.has_value());
  for (size_t n = 0; n < file.size(); ++n) {
    const auto cut = ReadPeVersionResource(std::span(file).first(n));
    // All of it or nothing, never a partial block.
    if (cut) {
      EXPECT_EQ(*cut, *whole) << n;
    }
  }
  EXPECT_FALSE(ReadPeVersionResource(std::span(file).first(file.size() / 2)).has_value());
}

TEST(PeReader, GarbageIsNoImage) {
  std::mt19937 random(27);
  for (size_t size : {0u, 1u, 2u, 63u, 64u, 65u, 512u, 4096u}) {
    for (int round = 0; round < 50; ++round) {
      std::vector<uint8_t> bytes(size);
      for (auto& b : bytes) b = static_cast<uint8_t>(random());
      if (size >= 2 && round % 2) bytes[0] = 'M', bytes[1] = 'Z';
      EXPECT_FALSE(ReadPeVersionResource(bytes).has_value());
    }
  }
  EXPECT_FALSE(ReadPeVersionResourceFromFile(Utf8ToUtf16(TINDRA_FIXTURE_DIR "/not_pe.txt")));
  EXPECT_FALSE(ReadPeVersionResourceFromFile(Utf8ToUtf16(TINDRA_FIXTURE_DIR)));  // a folder
  EXPECT_FALSE(ReadPeVersionResourceFromFile(u""));
  EXPECT_FALSE(ReadPeVersionResourceFromFile(Utf8ToUtf16(TINDRA_FIXTURE_DIR "/own.dll") + u'\0'));
}

TEST(PeReader, DirectoryLoopsEndWithoutABlock) {
  const std::vector<uint8_t> data = testing::OwnBlock();
  {
    // The type entry points back at the root: its "name" level has no ID 1.
    std::vector<uint8_t> rsrc = VersionRsrc(data);
    Put32(rsrc, 0x00 + 20, 0x80000000u | 0x00);
    EXPECT_FALSE(ReadPeVersionResource(PeImage(rsrc)).has_value());
  }
  {
    // The name entry points at its own directory: the language level finds a
    // directory where data should be.
    std::vector<uint8_t> rsrc = VersionRsrc(data);
    Put32(rsrc, 0x18 + 16, 1);
    Put32(rsrc, 0x18 + 20, 0x80000000u | 0x18);
    EXPECT_FALSE(ReadPeVersionResource(PeImage(rsrc)).has_value());
  }
  {
    // The language entry points at a directory.
    std::vector<uint8_t> rsrc = VersionRsrc(data);
    Put32(rsrc, 0x30 + 20, 0x80000000u | 0x00);
    EXPECT_FALSE(ReadPeVersionResource(PeImage(rsrc)).has_value());
  }
}

// A resource section with one version resource (name 1) in several languages, each
// block one byte long holding the index of its language.
std::vector<uint8_t> LanguagesRsrc(const std::vector<uint16_t>& languages) {
  const size_t n = languages.size();
  const size_t langDir = 0x30;
  const size_t dataEntries = langDir + 16 + 8 * n;
  const size_t data = dataEntries + 16 * n;
  std::vector<uint8_t> r(data + n, 0);
  testing::Put16(r, 0x00 + 14, 1);
  Put32(r, 0x00 + 16, 16);
  Put32(r, 0x00 + 20, 0x80000000u | 0x18);
  testing::Put16(r, 0x18 + 14, 1);
  Put32(r, 0x18 + 16, 1);
  Put32(r, 0x18 + 20, 0x80000000u | langDir);
  testing::Put16(r, langDir + 14, static_cast<uint16_t>(n));
  for (size_t i = 0; i < n; ++i) {
    Put32(r, langDir + 16 + 8 * i, languages[i]);
    Put32(r, langDir + 20 + 8 * i, static_cast<uint32_t>(dataEntries + 16 * i));
    Put32(r, dataEntries + 16 * i, static_cast<uint32_t>(kRsrcRva + data + i));
    Put32(r, dataEntries + 16 * i + 4, 1);
    r[data + i] = static_cast<uint8_t>(i);
  }
  return r;
}

TEST(PeReader, LanguageAsVersionDllTakesItOnAKoreanSystem) {
  struct Case {
    std::vector<uint16_t> languages;
    uint8_t taken;
  };
  const Case cases[] = {
      {{0x0409, 0x0412}, 1},  // Korean before English
      {{0x0407, 0x0409}, 1},  // then US English
      {{0x0407, 0x040C}, 0},  // else the first
      {{0x0412, 0x0000}, 1},  // neutral first of all
      {{0x0409, 0x0012}, 1},  // Korean, neutral sublanguage
  };
  for (const Case& c : cases) {
    const auto block = ReadPeVersionResource(PeImage(LanguagesRsrc(c.languages)));
    ASSERT_TRUE(block.has_value());
    ASSERT_EQ(block->size(), 1u);
    EXPECT_EQ((*block)[0], c.taken) << c.languages[0] << " " << c.languages[1];
  }
}

TEST(PeReader, HugeOrBogusNumbers) {
  const std::vector<uint8_t> data = testing::OwnBlock();
  const std::vector<uint8_t> good = PeImage(VersionRsrc(data));
  ASSERT_TRUE(ReadPeVersionResource(good).has_value());
  const size_t opt = 0x44 + 20;
  const size_t section = opt + 224;
  const size_t rsrc = 0x200;
  struct Patch {
    const char* what;
    size_t at;
    uint32_t value;
  };
  const Patch patches[] = {
      {"e_lfanew", 0x3C, 0xFFFFFFFFu},
      {"e_lfanew past the end", 0x3C, 0x7FFFFFF0u},
      {"section count", 0x44 + 2, 0xFFFF},
      {"optional header size", 0x44 + 16, 0xFFFF},
      {"optional header magic", opt, 0x1234},
      {"data directory count", opt + 92, 2},
      {"resource RVA", opt + 96 + 16, 0xFFFFFFF0u},
      {"section raw size", section + 16, 0},
      {"section raw offset", section + 20, 0xFFFFFF00u},
      {"section address", section + 12, 0xFFFFF000u},
      {"root entry count", rsrc + 12, 0xFFFFFFFFu},
      {"data size", rsrc + 0x4C, 0xFFFFFFF0u},
      {"data size beyond the section", rsrc + 0x4C, 0x10000},
      {"data RVA", rsrc + 0x48, 0xFFFFFFFFu},
      {"data RVA before the section", rsrc + 0x48, 0x10},
      {"language entry offset", rsrc + 0x30 + 20, 0x7FFFFFFFu},
      {"name directory offset", rsrc + 0x00 + 20, 0xFFFFFFFFu},
  };
  for (const Patch& p : patches) {
    std::vector<uint8_t> bad = good;
    Put32(bad, p.at, p.value);
    if (p.at == 0x44 + 2 || p.at == 0x44 + 16 || p.at == opt) {  // 16-bit fields
      bad[p.at + 2] = good[p.at + 2];
      bad[p.at + 3] = good[p.at + 3];
    }
    EXPECT_FALSE(ReadPeVersionResource(bad).has_value()) << p.what;
  }
}

TEST(PeReader, BufferAsVersionDllHandsItOver) {
  const std::vector<uint8_t> data = testing::OwnBlock();
  const uint32_t size = VersionInfoBufferSize(data.size());
  EXPECT_EQ(size, data.size() * 2 + 4);
  std::vector<uint8_t> buffer(size, 0);
  FillVersionInfoBuffer(data, buffer);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer.begin()));
  EXPECT_EQ(std::string(buffer.begin() + data.size(), buffer.begin() + data.size() + 4), "FE2X");
  EXPECT_TRUE(std::all_of(buffer.begin() + data.size() + 4, buffer.end(),
                          [](uint8_t b) { return b == 0; }));

  // A block that claims more than the buffer holds gets no signature; a buffer
  // smaller than the resource takes what fits.
  std::vector<uint8_t> claims = data;
  claims[0] = 0xFF, claims[1] = 0xFF;
  std::vector<uint8_t> small(claims.size() + 4, 0);
  FillVersionInfoBuffer(claims, small);
  EXPECT_TRUE(std::equal(claims.begin(), claims.end(), small.begin()));
  std::vector<uint8_t> one(1, 0);
  FillVersionInfoBuffer(data, one);
  EXPECT_EQ(one[0], data[0]);
  std::vector<uint8_t> none;
  FillVersionInfoBuffer(data, none);
}

TEST(PeReader, SourceGivesTheVersionDllBufferForAFile) {
  PeVersionBlockSource source;
  const std::u16string own = Utf8ToUtf16(TINDRA_FIXTURE_DIR "/own.dll");
  uint32_t handle = 1;
  const uint32_t size = source.GetInfoSize(own, handle);
  const auto block = ReadPeVersionResourceFromFile(own);
  ASSERT_TRUE(block.has_value());
  EXPECT_EQ(size, block->size() * 2 + 4);
  std::vector<uint8_t> buffer(size);
  ASSERT_TRUE(source.GetInfo(own, handle, size, buffer.data()));
  EXPECT_TRUE(std::equal(block->begin(), block->end(), buffer.begin()));
  EXPECT_EQ(source.GetInfoSize(Utf8ToUtf16(TINDRA_FIXTURE_DIR "/no_version.dll"), handle), 0u);
}

}  // namespace
}  // namespace tindra
