#pragma once
// The revision this program was built with: the last part of its file version
// (27 for "1.00.0027"). Each program defines it from its own build setting, so two
// copies built from the same tree may carry different revisions.
#include <cstdint>

namespace tindra {

int16_t AppRevision();

}  // namespace tindra
