#include <cstdio>
#include <exception>
#include <vector>

#include "common/text.h"
#include "tools/verinfo/verinfo.h"

// File names arrive as UTF-8 bytes.
int main(int argc, char** argv) {
  try {
    std::vector<std::u16string> args;
    for (int i = 1; i < argc; ++i) args.push_back(tindra::Utf8ToUtf16(argv[i]));
    return tindra::VerinfoMain(args);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tindra-verinfo: %s\n", e.what());
    return 3;
  }
}
