#include "update/update_log.h"

#include <cstdio>

#include "common/text.h"

namespace tindra {

namespace {

class DroppingLog : public UpdateLog {
 public:
  void Write(const UpdateEvent&) override {}
};

// A value on one line, cut to its bound; quoted when it holds a blank or a quote, or
// would otherwise read as nothing.
std::u16string Value(std::u16string_view raw) {
  std::u16string v(raw.substr(0, kUpdateLogValueMax));
  bool quote = v.empty();
  for (char16_t& c : v) {
    if (c < 0x20 || c == 0x7F || c == 0x2028 || c == 0x2029) c = u' ';
    if (c == u' ' || c == u'"') quote = true;
  }
  if (!quote) return v;
  std::u16string q = u"\"";
  for (char16_t c : v) {
    q += c;
    if (c == u'"') q += u'"';
  }
  return q + u"\"";
}

void Field(std::u16string& line, std::u16string_view key, std::u16string_view value) {
  if (value.empty()) return;
  line += u' ';
  line += key;
  line += u'=';
  line += Value(value);
}

}  // namespace

UpdateLog& NoUpdateLog() {
  static DroppingLog none;
  return none;
}

std::u16string FormatLogLine(const LocalTime& t, std::u16string_view program,
                             const UpdateEvent& e) {
  char stamp[40];
  std::snprintf(stamp, sizeof(stamp), "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.millisecond);
  std::u16string line = Ascii(stamp) + u" " + Value(program) + u" " + Value(e.step);
  Field(line, u"file", e.file);
  Field(line, u"url", e.url);
  if (e.status) Field(line, u"status", ToDecimal(*e.status));
  if (e.bytes) Field(line, u"bytes", ToDecimal(static_cast<long long>(*e.bytes)));
  Field(line, u"verdict", e.verdict);
  Field(line, u"reason", e.reason);
  if (e.exitCode) Field(line, u"exit", ToDecimal(*e.exitCode));
  return line;
}

LogAction DecideLogAction(uint64_t logBytes, uint64_t lineBytes, uint64_t cap) {
  if (lineBytes > cap) return LogAction::kDrop;
  if (logBytes > 0 && lineBytes > cap - (logBytes < cap ? logBytes : cap)) {
    return LogAction::kRotateThenAppend;
  }
  return LogAction::kAppend;
}

UpdateLogWriter::UpdateLogWriter(LogMedium& medium, std::u16string folder, std::u16string program,
                                 uint64_t cap)
    : medium_(medium), program_(std::move(program)), cap_(cap) {
  // No folder: the lines go to the debugger only.
  if (folder.empty()) return;
  if (folder.back() != u'\\') folder += u'\\';
  log_ = folder + kUpdateLogName;
  old_ = folder + kUpdateLogOldName;
}

void UpdateLogWriter::Write(const UpdateEvent& event) {
  // The log only tells: whatever fails here changes nothing else.
  try {
    const std::u16string line = FormatLogLine(medium_.LocalTimeNow(), program_, event);
    medium_.Debug(line + u"\r\n");
    if (log_.empty()) return;
    const std::string bytes = Utf16ToUtf8(line) + "\r\n";
    const bool locked = medium_.Locked([&] {
      switch (DecideLogAction(medium_.SizeOf(log_), bytes.size(), cap_)) {
        case LogAction::kDrop:
          return;
        case LogAction::kRotateThenAppend:
          // An old generation that cannot be replaced leaves the log full: the line goes.
          if (!medium_.Replace(log_, old_)) return;
          break;
        case LogAction::kAppend:
          break;
      }
      medium_.Append(log_, bytes);
    });
    // Held by another: an append is whole without the lock, but a rotation could meet
    // another writer's line, so the line goes only where it fits.
    if (!locked &&
        DecideLogAction(medium_.SizeOf(log_), bytes.size(), cap_) == LogAction::kAppend) {
      medium_.Append(log_, bytes);
    }
  } catch (...) {
  }
}

}  // namespace tindra
