#pragma once

#include <cstdint>

namespace lumipage {

// Twenty user-defined ASCII tags (40000 ... 40019, known to libtiff as "UserTag1" ...
// "UserTag20") that callers may fill with their own text; they are registered with libtiff
// through its tag-extender hook so that they are read back and written like built-in tags.
inline constexpr uint32_t kTiffFirstUserTag = 40000;
inline constexpr int kTiffUserTagCount = 20;

// Installs the extender once per process (later calls do nothing). Must run before the first
// TIFF handle is opened; every open of the TIFF classes calls it.
void InstallTiffUserTags();

}  // namespace lumipage
