#pragma once
// Version blocks and PE images built in memory for the tests, in the published
// layouts (VS_VERSIONINFO; PE32 with one .rsrc section).
#include <cstdint>
#include <string>
#include <vector>

namespace tindra::testing {

struct TextValue {
  std::u16string key;
  std::u16string value;
  bool nul = true;      // false: the value ends where the block ends
  bool absent = false;  // true: the entry has no value at all, not even a NUL
};
struct Table {
  std::u16string key;
  std::vector<TextValue> values;
};

inline void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}
inline void Append16(std::vector<uint8_t>& b, uint32_t v) {
  b.resize(b.size() + 2);
  Put16(b, b.size() - 2, v);
}
inline void AppendText(std::vector<uint8_t>& b, const std::u16string& s, bool nul = true) {
  for (char16_t c : s) Append16(b, c);
  if (nul) Append16(b, 0);
}
inline void Align4(std::vector<uint8_t>& b) {
  while (b.size() % 4) b.push_back(0);
}

// One node: length, value length, type, key, alignment, value, then children.
inline std::vector<uint8_t> Node(const std::u16string& key, uint16_t type, uint16_t valueLength,
                                 const std::vector<uint8_t>& value,
                                 const std::vector<std::vector<uint8_t>>& children) {
  std::vector<uint8_t> b;
  Append16(b, 0);
  Append16(b, valueLength);
  Append16(b, type);
  AppendText(b, key);
  Align4(b);
  b.insert(b.end(), value.begin(), value.end());
  for (const auto& child : children) {
    Align4(b);
    b.insert(b.end(), child.begin(), child.end());
  }
  Put16(b, 0, static_cast<uint32_t>(b.size()));
  return b;
}

// A whole block with a StringFileInfo section holding `tables` (none: no section).
inline std::vector<uint8_t> VersionBlock(const std::vector<Table>& tables) {
  std::vector<std::vector<uint8_t>> tableNodes;
  for (const Table& t : tables) {
    std::vector<std::vector<uint8_t>> strings;
    for (const TextValue& v : t.values) {
      std::vector<uint8_t> text;
      if (!v.absent) AppendText(text, v.value, v.nul);
      const size_t valueLength = v.absent ? 0 : v.value.size() + (v.nul ? 1 : 0);
      strings.push_back(Node(v.key, 1, static_cast<uint16_t>(valueLength), text, {}));
    }
    tableNodes.push_back(Node(t.key, 1, 0, {}, strings));
  }
  std::vector<std::vector<uint8_t>> sections;
  if (!tables.empty()) sections.push_back(Node(u"StringFileInfo", 1, 0, {}, tableNodes));
  return Node(u"VS_VERSION_INFO", 0, 0, {}, sections);
}

// The block of the program's own kind: one Korean table with six values.
inline std::vector<uint8_t> OwnBlock() {
  return VersionBlock({{u"041204B0",
                        {{u"CompanyName", u"Tindra"},
                         {u"ProductName", u"Tindra"},
                         {u"FileVersion", u"1.00.0027"},
                         {u"ProductVersion", u"1.00.0027"},
                         {u"InternalName", u"Tindra"},
                         {u"OriginalFilename", u"Tindra.exe"}}}});
}

// A PE32 image whose only section is .rsrc at RVA 0x1000, file offset 0x200,
// holding `rsrc` (offsets inside it are relative to its start).
inline constexpr uint32_t kRsrcRva = 0x1000;
inline std::vector<uint8_t> PeImage(const std::vector<uint8_t>& rsrc, bool pe32Plus = false) {
  std::vector<uint8_t> b(0x200, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, 0x40);
  b[0x40] = 'P';
  b[0x41] = 'E';
  const size_t coff = 0x44;
  // PE32+ has 16 more bytes of header before the data directories.
  const size_t optionalSize = pe32Plus ? 240 : 224;
  const size_t dirs = pe32Plus ? 112 : 96;
  Put16(b, coff + 0, pe32Plus ? 0x8664 : 0x14C);
  Put16(b, coff + 2, 1);  // one section
  Put16(b, coff + 16, static_cast<uint32_t>(optionalSize));
  const size_t opt = coff + 20;
  Put16(b, opt + 0, pe32Plus ? 0x20B : 0x10B);
  Put32(b, opt + dirs - 4, 16);  // number of data directories
  Put32(b, opt + dirs + 2 * 8, kRsrcRva);
  Put32(b, opt + dirs + 2 * 8 + 4, static_cast<uint32_t>(rsrc.size()));
  const size_t section = opt + optionalSize;
  const char name[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
  for (int i = 0; i < 8; ++i) b[section + i] = static_cast<uint8_t>(name[i]);
  Put32(b, section + 8, static_cast<uint32_t>(rsrc.size()));
  Put32(b, section + 12, kRsrcRva);
  Put32(b, section + 16, static_cast<uint32_t>(rsrc.size()));
  Put32(b, section + 20, 0x200);
  b.insert(b.end(), rsrc.begin(), rsrc.end());
  return b;
}

// A resource section: root -> type 16 -> name 1 -> language 0x0412 -> data.
// Returns it with the directories at 0, 0x18, 0x30, the data entry at 0x48 and the
// data at 0x58.
inline std::vector<uint8_t> VersionRsrc(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> r(0x58, 0);
  auto dir = [&](size_t at, uint32_t id, uint32_t target) {
    Put16(r, at + 14, 1);  // one ID entry
    Put32(r, at + 16, id);
    Put32(r, at + 20, target);
  };
  dir(0x00, 16, 0x80000000u | 0x18);
  dir(0x18, 1, 0x80000000u | 0x30);
  dir(0x30, 0x0412, 0x48);
  Put32(r, 0x48, kRsrcRva + 0x58);
  Put32(r, 0x4C, static_cast<uint32_t>(data.size()));
  r.insert(r.end(), data.begin(), data.end());
  return r;
}

}  // namespace tindra::testing
