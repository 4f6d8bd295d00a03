#include "update/companion_rules.h"

#include "common/msgbox.h"
#include "common/text.h"
#include "fileutil/pe_headers.h"

namespace tindra {

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// Blanks around a command line's parts.
std::u16string TrimBlanks(std::u16string_view s) { return Trim(s, u" \t"); }

// A run of decimal digits, at most `maxDigits` long.
std::optional<int32_t> Digits(std::u16string_view s, size_t maxDigits) {
  if (s.empty() || s.size() > maxDigits) return std::nullopt;
  int32_t n = 0;
  for (char16_t c : s) {
    if (c < u'0' || c > u'9') return std::nullopt;
    n = n * 10 + (c - u'0');
  }
  return n;
}

// A bare file name ending in ".exe" (any case), with a name in front of it.
bool IsProgramFileName(const std::u16string& file) {
  return IsBareFileName(file) && file.size() >= 5 &&
         AsciiUpper(std::u16string_view(file).substr(file.size() - 4)) == u".EXE";
}

}  // namespace

std::u16string GetUpdateBaseUrl(std::u16string_view host) {
  return u"http://" + std::u16string(host) + u"/download/자동업데이트_v1/";
}

std::u16string ArgumentsOf(std::u16string_view commandLine) {
  size_t i = 0;
  while (i < commandLine.size() && IsBlank(commandLine[i])) ++i;
  if (i < commandLine.size() && commandLine[i] == u'"') {
    size_t close = commandLine.find(u'"', i + 1);
    i = close == std::u16string_view::npos ? commandLine.size() : close + 1;
  } else {
    while (i < commandLine.size() && !IsBlank(commandLine[i])) ++i;
  }
  return TrimBlanks(commandLine.substr(i));
}

void ShowBadArguments(std::u16string_view args, std::u16string_view usage) {
  ShowMessage(
      u"잘못된 실행 인수입니다: \"" + std::u16string(args) + u"\"\r\n\r\n" + std::u16string(usage),
      kMbOk | kMbIconError);
}

bool IsBareFileName(std::u16string_view name) {
  if (name.empty() || name.size() > 255 || name == u"." || name == u"..") return false;
  if (name.find(u"..") != std::u16string_view::npos) return false;
  for (char16_t c : name) {
    if (c < 0x20 || c == u'\\' || c == u'/' || c == u':' || c == u'*' || c == u'?' || c == u'"' ||
        c == u'<' || c == u'>' || c == u'|') {
      return false;
    }
  }
  // Names ending in a dot or blank are not stored as given.
  return name.back() != u'.' && name.back() != u' ';
}

std::optional<ArgPair> SplitArgs(std::u16string_view args) {
  size_t semi = args.find(u';');
  if (semi == std::u16string_view::npos) return std::nullopt;
  return ArgPair{TrimBlanks(args.substr(0, semi)), TrimBlanks(args.substr(semi + 1))};
}

std::optional<CheckerArgs> ParseCheckerArgs(std::u16string_view args) {
  auto pair = SplitArgs(args);
  if (!pair) return std::nullopt;
  auto revision = Digits(pair->first, 5);
  if (!revision || *revision > 32767) return std::nullopt;
  if (!IsProgramFileName(pair->second)) return std::nullopt;
  return CheckerArgs{*revision, pair->second};
}

std::optional<ArgPair> ParseReplacerArgs(std::u16string_view args) {
  auto pair = SplitArgs(args);
  if (!pair || !IsProgramFileName(pair->first) || !IsBareFileName(pair->second)) {
    return std::nullopt;
  }
  if (AsciiUpper(pair->second) != AsciiUpper(u"New_" + pair->first)) return std::nullopt;
  return pair;
}

std::optional<int32_t> ParseLatestRevision(std::string_view body) {
  std::u16string text;
  for (char c : body) text += static_cast<char16_t>(static_cast<unsigned char>(c));
  return Digits(Trim(text, u" \t\r\n"), 9);
}

std::u16string_view LastDottedPart(std::u16string_view version) {
  const size_t dot = version.rfind(u'.');
  return dot == std::u16string_view::npos ? version : version.substr(dot + 1);
}

std::optional<int32_t> RevisionOfVersion(std::u16string_view version) {
  std::u16string_view last = LastDottedPart(version);
  // Leading zeros may stand in front of the number ("0028").
  while (last.size() > 1 && last.front() == u'0') last.remove_prefix(1);
  return Digits(last, 9);
}

std::u16string_view FileStem(std::u16string_view fileName) {
  return fileName.substr(0, fileName.rfind(u'.'));
}

std::u16string VersionFileName(std::u16string_view exeFile) {
  return std::u16string(FileStem(exeFile)) + u"_lastver.txt";
}

bool LooksLikeWindowsProgram(std::string_view head) {
  const std::optional<PeHeaders> headers =
      ReadPeHeaders(SpanReader({reinterpret_cast<const uint8_t*>(head.data()), head.size()}));
  if (!headers) return false;
  const uint16_t kExecutable = 0x0002;
  const uint16_t kDll = 0x2000;
  return (headers->characteristics & kExecutable) && !(headers->characteristics & kDll) &&
         (headers->magic == kPe32Magic || headers->magic == kPe32PlusMagic);
}

}  // namespace tindra
