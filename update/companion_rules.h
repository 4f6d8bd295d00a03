#pragma once
// Rules shared by the companion programs: the names the three programs give each
// other, reading their command lines, the names they accept, the server's version
// file and the checks on a downloaded program.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tindra {

// The companions' file names in the program folder, and the prefix of a new program
// the checker leaves for the replacer ("New_Tindra.exe").
inline constexpr char16_t kCheckerName[] = u"Vantorel.exe";
inline constexpr char16_t kReplacerName[] = u"Pellmora.exe";
inline constexpr char16_t kNewPrefix[] = u"New_";

// "http://" + host + "/download/자동업데이트_v1/": the update folder on a server.
// Plain concatenation: nothing is escaped or added.
std::u16string GetUpdateBaseUrl(std::u16string_view host);

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

// The version file's body: blanks and line breaks around one decimal number of at
// most 9 digits. Nothing for anything else (an error page, an empty body).
std::optional<int32_t> ParseLatestRevision(std::string_view body);

// The text after a version's last "." (all of it when it has none): "1.00.0028" ->
// "0028".
std::u16string_view LastDottedPart(std::u16string_view version);

// The revision a version text carries: its last dotted part, all digits
// ("1.00.28" -> 28, "1.00.0028" -> 28). Nothing when that part is not a number.
std::optional<int32_t> RevisionOfVersion(std::u16string_view version);

// A file name up to, not including, its last "." ("Tindra.exe" -> "Tindra"); all of
// it when it has none.
std::u16string_view FileStem(std::u16string_view fileName);

// The version file's name for a program: "Tindra.exe" -> "Tindra_lastver.txt".
std::u16string VersionFileName(std::u16string_view exeFile);

// True when `head` (the first bytes of a file, at least 4 KiB when the file has
// them) starts a 32-bit or 64-bit Windows executable image that is not a DLL.
bool LooksLikeWindowsProgram(std::string_view head);

}  // namespace tindra
