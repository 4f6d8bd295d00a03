#pragma once
// The companions' command lines: the text after a program's own name, the checker's
// parameters "REVISION;FILE.exe" and the replacer's arguments "OLD.exe;New_OLD.exe",
// the bare file names they accept, and the box a companion shows when its arguments
// do not parse.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tindra {

// The text of a command line after the program's own name (quoted or not), with
// blanks around it removed.
std::u16string ArgumentsOf(std::u16string_view commandLine);

// The error box a companion shows when its arguments do not parse: the arguments
// as given, a blank line, then `usage` (how to call it, and what was left alone).
void ShowBadArguments(std::u16string_view args, std::u16string_view usage);

// A bare file name of the program folder: not empty, no folder part ("\", "/",
// ":"), not "." or "..", no ".." anywhere, no wildcard, quote, "|", "<", ">" or
// control character, at most 255 units.
bool IsBareFileName(std::u16string_view name);

// "OLD.exe;NEW.exe" or "27;Tindra.exe": the two parts around the first ";", each
// without surrounding blanks. Nothing when there is no ";".
struct ArgPair {
  std::u16string first;
  std::u16string second;
};
std::optional<ArgPair> SplitArgs(std::u16string_view args);

// The update checker's parameters "REVISION;FILE.exe": a revision of decimal digits
// (0 to 32767) and a bare file name ending in ".exe" (any case).
struct CheckerArgs {
  int32_t revision = 0;
  std::u16string exeFile;
};
std::optional<CheckerArgs> ParseCheckerArgs(std::u16string_view args);

// The replacer's arguments "OLD.exe;New_OLD.exe": two bare file names, the old one
// ending in ".exe" (any case) and the new one exactly "New_" + the old one (ASCII
// letters in any case). Nothing for anything else.
std::optional<ArgPair> ParseReplacerArgs(std::u16string_view args);

}  // namespace tindra
