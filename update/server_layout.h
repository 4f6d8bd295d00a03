#pragma once
// What the update server holds and how the programs find it: the update folder under
// a host, the companions' file names there (the same as in the program folder), and
// each program's version file with the revision it announces.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tindra {

// The companions' file names.
inline constexpr char16_t kCheckerName[] = u"Vantorel.exe";
inline constexpr char16_t kReplacerName[] = u"Pellmora.exe";

// "http://" + host + "/download/자동업데이트_v1/": the update folder on a server.
// Plain concatenation: nothing is escaped or added.
std::u16string GetUpdateBaseUrl(std::u16string_view host);

// The version file's name for a program: "Tindra.exe" -> "Tindra_lastver.txt".
std::u16string VersionFileName(std::u16string_view exeFile);

// The version file's body: blanks and line breaks around one decimal number of at
// most 9 digits. Nothing for anything else (an error page, an empty body).
std::optional<int32_t> ParseLatestRevision(std::string_view body);

}  // namespace tindra
