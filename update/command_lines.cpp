#include "update/command_lines.h"

#include "common/msgbox.h"
#include "common/text.h"
#include "update/install_files.h"

namespace tindra {

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// Blanks around a command line's parts.
std::u16string TrimBlanks(std::u16string_view s) { return Trim(s, u" \t"); }

// A bare file name ending in ".exe" (any case), with a name in front of it.
bool IsProgramFileName(const std::u16string& file) {
  return IsBareFileName(file) && file.size() >= 5 &&
         AsciiUpper(std::u16string_view(file).substr(file.size() - 4)) == u".EXE";
}

}  // namespace

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
  auto revision = DecimalDigits(pair->first, 5);
  if (!revision || *revision > 32767) return std::nullopt;
  if (!IsProgramFileName(pair->second)) return std::nullopt;
  return CheckerArgs{*revision, pair->second};
}

std::optional<ArgPair> ParseReplacerArgs(std::u16string_view args) {
  auto pair = SplitArgs(args);
  if (!pair || !IsProgramFileName(pair->first) || !IsBareFileName(pair->second)) {
    return std::nullopt;
  }
  if (AsciiUpper(pair->second) != AsciiUpper(kNewPrefix + pair->first)) return std::nullopt;
  return pair;
}

}  // namespace tindra
