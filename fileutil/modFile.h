#pragma once
// File and version utilities (module modFile; its error messages name "mdlFile"):
// a file's version-information block read into 13 readable entries, the English
// name of the block's language, and the file's version number as text.
//
// All three are called on the user-interface thread. GetFileVer and
// GetFileVerNumber may show message boxes (through common/msgbox.h).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tindra {

// The result of GetFileVer: exactly 13 entries (indices 0..12 in the order of
// kFileVerFields) or the empty result. Asking for an entry of the empty result, or
// for an index outside 0..12, raises error 9 ("Subscript out of range").
class FileVerList {
 public:
  static constexpr int32_t kCount = 13;

  FileVerList() = default;                                    // the empty result
  explicit FileVerList(std::vector<std::u16string> entries);  // exactly 13 entries

  bool IsEmpty() const noexcept { return entries_.empty(); }
  const std::u16string& Entry(int32_t index) const;
  const std::u16string& operator[](int32_t index) const { return Entry(index); }
  const std::vector<std::u16string>& Entries() const noexcept { return entries_; }

 private:
  std::vector<std::u16string> entries_;
};

// The field list, split at ";" into the 13 names.
inline constexpr char16_t kFileVerFields[] =
    u"CompanyName;FileDescription;FileVersion;InternalName;LegalCopyright;OriginalFilename;"
    u"ProductName;ProductVersion;Comments;LegalTrademarks;PrivateBuild;SpecialBuild;Language";

// Reads the version-information block of `fileName` (from the current
// VersionBlockSource) and scans it into the 13 entries. A missing file or a file
// without a block gives the empty result silently. A damaged block shows
// "Error N (...) in procedure GetFileVer of Module mdlFile" per fault and still
// gives the list.
FileVerList GetFileVer(const std::u16string& fileName);

// The English name of the language whose identifier forms the first 4 characters
// of `translation` (a string-table key such as "041204B0"; any case); the empty
// text when the identifier is not known.
std::u16string GetLangName(const std::u16string& translation);

// The FileVersion value of `fileName`: with includeBuild, the whole dotted number
// with the leading zeros of its last component removed ("1.00.0027" -> "1.00.27");
// without, the text before the last "." ("1.00"). "Not specified" when the block
// has no FileVersion; the empty text when the file has no readable block. On an
// error, reports it unless `silent` and returns what it had so far.
std::u16string GetFileVerNumber(const std::u16string& fileName, bool includeBuild, bool silent);

// Where GetFileVer gets a file's raw block: the two operations of version.dll.
// On Windows the default source is version.dll; elsewhere it reads the RT_VERSION
// resource of a PE file directly.
class VersionBlockSource {
 public:
  virtual ~VersionBlockSource() = default;
  // The size in bytes of the buffer the block needs; 0 when the file has no block
  // or cannot be read. `handle` is passed on unchanged to GetInfo.
  virtual uint32_t GetInfoSize(const std::u16string& fileName, uint32_t& handle) = 0;
  // Copies the block into `buffer` (of `size` bytes) from its first byte; false on
  // failure.
  virtual bool GetInfo(const std::u16string& fileName, uint32_t handle, uint32_t size,
                       void* buffer) = 0;
};

// The platform's source (version.dll on Windows, the PE reader elsewhere).
VersionBlockSource& DefaultVersionBlockSource();
// The source in use; DefaultVersionBlockSource() unless replaced.
VersionBlockSource& CurrentVersionBlockSource();
// The raw block of `fileName` from the source in use, as GetFileVer reads it; nothing
// when the file has no block or it cannot be read. Reports and shows nothing.
std::optional<std::vector<uint8_t>> ReadVersionBlock(const std::u16string& fileName);

// Replaces the source for the lifetime of the object (tests, tools).
class ScopedVersionBlockSource {
 public:
  explicit ScopedVersionBlockSource(VersionBlockSource& source);
  ~ScopedVersionBlockSource();
  ScopedVersionBlockSource(const ScopedVersionBlockSource&) = delete;
  ScopedVersionBlockSource& operator=(const ScopedVersionBlockSource&) = delete;

 private:
  VersionBlockSource* previous_;
};

}  // namespace tindra
