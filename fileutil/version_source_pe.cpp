#include "fileutil/pe_version.h"

namespace tindra {

// Without version.dll the block comes straight from the file's resource.
VersionBlockSource& DefaultVersionBlockSource() {
  static PeVersionBlockSource source;
  return source;
}

}  // namespace tindra
