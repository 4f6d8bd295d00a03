#include "update/logged_network.h"

#include "common/text.h"
#include "update/install_files.h"

namespace tindra {

std::u16string BoundReason(const TransferSeen& seen) {
  const std::u16string seconds = ToDecimal(static_cast<long long>((seen.boundMs + 999) / 1000));
  switch (seen.endedBy) {
    case TransferBound::kStepTimeout:
      return u"ended by the " + seconds + u" s step time-out";
    case TransferBound::kRequest:
      return u"ended by its " + seconds + u" s bound";
    case TransferBound::kCeiling:
      return u"ended by the " + seconds + u" s start-up ceiling";
    case TransferBound::kSize:
      return u"ended by the size limit";
    case TransferBound::kCancel:
      return u"cancelled";
    case TransferBound::kNone:
      break;
  }
  return u"";
}

std::u16string LoggedNetwork::ReadUrlText(const std::u16string& url) {
  std::u16string text = inner_.ReadUrlText(url);
  Logged(u"read", url, u"", !text.empty());
  return text;
}

bool LoggedNetwork::FetchBody(const std::u16string& url, size_t maxBytes, std::string& body) {
  const bool ok = inner_.FetchBody(url, maxBytes, body);
  Logged(u"read", url, u"", ok);
  return ok;
}

bool LoggedNetwork::DownloadToFile(const std::u16string& url, const std::u16string& localPath) {
  const bool ok = inner_.DownloadToFile(url, localPath);
  Logged(u"download", url, FileNameOf(localPath), ok);
  return ok;
}

void LoggedNetwork::Logged(std::u16string_view step, const std::u16string& url,
                           std::u16string_view file, bool ok) {
  const TransferSeen seen = inner_.LastTransfer();
  UpdateEvent e;
  e.step = step;
  e.file = file;
  e.url = url;
  if (seen.status) e.status = seen.status;
  e.bytes = seen.bytes;
  e.verdict = ok ? u"ok" : u"failed";
  if (!ok) {
    if (seen.endedBy != TransferBound::kNone) {
      e.reason = BoundReason(seen);
    } else if (seen.status == 0) {
      e.reason = u"no answer from the server";
    } else if (seen.status < 200 || seen.status > 299) {
      e.reason = u"HTTP status " + ToDecimal(seen.status);
    } else if (seen.bytes == 0) {
      e.reason = u"empty body";
    } else {
      e.reason = u"incomplete, too large or too slow";
    }
  }
  log_.Write(e);
}

}  // namespace tindra
