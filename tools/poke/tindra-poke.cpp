// tindra-poke: plays the messenger's part. Pokes one text into item lblDDE of topic
// "TindraFrm" of a running Tindra and waits for the acknowledgement.
//
//   tindra-poke [--service NAME] [--unicode] [--raw] [--wait SECONDS] [--format N] [--] TEXT
//
// Exit status: 0 acknowledged, 1 refused, 2 no Tindra answered, 3 no acknowledgement
// in time, 4 client failure, 64 bad command line.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "common/text.h"
#include "common/win32/ansi.h"
#include "common/win32/dde_client.h"

using namespace tindra;
using namespace tindra::poke;

namespace {

void Usage() {
  std::fputs(
      "usage: tindra-poke [--service NAME] [--unicode] [--raw] [--wait SECONDS] [--format N] "
      "[--] TEXT\n"
      "  Pokes TEXT into item lblDDE of topic TindraFrm of the DDE service NAME (Tindra).\n"
      "  --unicode   send CF_UNICODETEXT instead of CF_TEXT in the ANSI code page\n"
      "  --raw       use plain DDE messages instead of DDEML\n"
      "  --wait S    look for the service for up to S seconds (default 5)\n"
      "  --format N  send the text's bytes under clipboard format N\n"
      "  The text \"end\" closes Tindra.\n",
      stderr);
}

bool ReadNumberArg(const wchar_t* s, unsigned long max, unsigned long& out) {
  if (!s || !*s) return false;
  wchar_t* end = nullptr;
  unsigned long v = std::wcstoul(s, &end, 10);
  if (*end || v > max) return false;
  out = v;
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  PokeRequest request;
  bool unicode = false;
  bool haveFormat = false;
  bool haveText = false;
  std::u16string text;
  bool optionsDone = false;
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i];
    unsigned long n = 0;
    const bool isOption = !optionsDone && a.size() > 1 && a[0] == L'-' && a[1] == L'-';
    if (!isOption && a != L"-h") {
      if (haveText) {
        std::fputs("tindra-poke: give exactly one TEXT (quote it if it has spaces)\n", stderr);
        return 64;
      }
      text = win32::FromWide(a);
      haveText = true;
    } else if (a == L"--") {
      optionsDone = true;  // everything after it is text, even "--x"
    } else if (a == L"--help" || a == L"-h") {
      Usage();
      return 0;
    } else if (a == L"--unicode") {
      unicode = true;
    } else if (a == L"--raw") {
      request.raw = true;
    } else if (a == L"--service" && i + 1 < argc && argv[i + 1][0]) {
      request.service = win32::FromWide(argv[++i]);
    } else if (a == L"--wait" && i + 1 < argc && ReadNumberArg(argv[i + 1], 600, n)) {
      request.connectWaitMs = static_cast<DWORD>(n * 1000);
      ++i;
    } else if (a == L"--format" && i + 1 < argc && ReadNumberArg(argv[i + 1], 0xFFFF, n) && n) {
      request.format = static_cast<UINT>(n);
      haveFormat = true;
      ++i;
    } else {
      std::fprintf(stderr, "tindra-poke: unknown or incomplete option %ls\n", a.c_str());
      Usage();
      return 64;
    }
  }
  if (!haveText) {
    Usage();
    return 64;
  }
  if (unicode && !haveFormat) request.format = CF_UNICODETEXT;
  request.data = TextData(text, unicode);

  PokeOutcome outcome = Poke(request);
  if (outcome == PokeOutcome::kAcknowledged) return 0;
  std::string service = Utf16ToUtf8(request.service);
  std::fprintf(stderr, "tindra-poke: %s (service \"%s\", topic \"TindraFrm\", item \"lblDDE\")\n",
               OutcomeText(outcome), service.c_str());
  switch (outcome) {
    case PokeOutcome::kRefused:
      return 1;
    case PokeOutcome::kNoServer:
      return 2;
    case PokeOutcome::kTimeout:
      return 3;
    default:
      return 4;
  }
}
