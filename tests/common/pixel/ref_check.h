// Runs the independent numpy/scipy references of tools/fixtures/pixel_filters_ref.py over arrays
// written by a test: each array goes into a temporary folder as raw little-endian values beside
// a params.json, and the named check recomputes and compares them.
#pragma once
#include "common/reference_folder.h"

namespace pixelfilters {

class RefCheck : public quorin::test::ReferenceFolder {
  public:
    RefCheck() : ReferenceFolder("pixel_filters_ref.py") {}
};

}  // namespace pixelfilters
