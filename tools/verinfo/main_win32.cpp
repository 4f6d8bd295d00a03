// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <vector>

#include "common/win32/ansi.h"
#include "common/win32/dll_search.h"
#include "tools/verinfo/verinfo.h"

namespace {

struct LocalFreer {
  void operator()(LPWSTR* p) const noexcept { LocalFree(p); }
};

}  // namespace

// The file name comes from the wide command line, so that any name reaches the
// program, which then converts it to the ANSI code page for version.dll itself.
int main() {
  tindra::win32::LoadDllsFromSystemFolderOnly();
  try {
    // Raw bytes: the same output as the Linux build, "\n" line ends included.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    int argc = 0;
    std::unique_ptr<LPWSTR, LocalFreer> argv(CommandLineToArgvW(GetCommandLineW(), &argc));
    std::vector<std::u16string> args;
    for (int i = 1; argv && i < argc; ++i) args.push_back(tindra::win32::FromWide(argv.get()[i]));
    return tindra::VerinfoMain(args);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tindra-verinfo: %s\n", e.what());
    return 3;
  }
}
