#pragma once
// The trusted fetch: a program or companion is fetched beside its target and moves
// over it only once it passes its check, so that a bad download never takes the
// place of a good program. Every step is logged (update/update_events.h).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "update/update_services.h"

namespace tindra {

// A download lands beside its target under this suffix until it has been checked.
inline constexpr char16_t kPartSuffix[] = u".part";

// The revision of the program at `path`, held while it is checked, when it is
// trusted for `roleFile` (under `rule`); nothing when it is missing, unreadable,
// untrusted or has none. TrustedRevisionAndLog writes the check as a "check" line (a
// file that cannot be held as "missing or unreadable"); TrustedRevision writes none.
std::optional<int32_t> TrustedRevisionAndLog(const UpdateServices& s, const std::u16string& path,
                                             std::u16string_view roleFile,
                                             const RevisionRule& rule = {});
std::optional<int32_t> TrustedRevision(const UpdateServices& s, const std::u16string& path,
                                       std::u16string_view roleFile);

// Clears `path` for a file the update puts there: a file there goes (read-only or
// not), and so does an empty folder of that name. False when the place stays taken: a
// file that cannot go yet is tried again next time; a folder that holds something is
// the user's, and a box tells the user why no update can come until it is moved.
bool ClearPlaceFor(ProgramFiles& files, const std::u16string& path);

// How a fetch ended.
enum class Fetched {
  kDone,        // the checked file is at its target
  kNotFetched,  // the download (or the hold, or the move) failed
  kRefused,     // it arrived but failed its check (signer, image, role or revision)
};

// Fetches `url` beside `target` (at `target` + kPartSuffix, whose place is cleared
// first), holds the download against writers, checks it for the role `roleFile` and
// the revision rule, and moves the held file over `target` (read-only or not).
// Whatever fails leaves `target` as it was and no partial file, and is logged.
//
// With `refusals`, the failure record of the announced revision (`rule.exact`): a
// refused download is recorded there by its SHA-256 (install_records.h), and the same
// file served again is dropped unchecked during its back-off; any other file is
// checked as usual, so a forged answer holds back nothing genuine.
Fetched FetchCompanion(const UpdateServices& s, const std::u16string& url,
                       const std::u16string& target, std::u16string_view roleFile,
                       const RevisionRule& rule = {}, const std::u16string& refusals = {});

// Makes sure a program trusted as `roleFile`, of revision `floor` or later, is at
// `path`, fetching it from `url` when it is missing, fails its check or is older
// (the fetched one is then no older than a trusted one in place). True when such
// a program is there afterwards.
bool EnsureTrustedCompanion(const UpdateServices& s, const std::u16string& url,
                            const std::u16string& path, std::u16string_view roleFile,
                            int32_t floor);

}  // namespace tindra
