#include "imaging/TiffUserTags.h"
#include "imaging/TiffLibrary.h"

#include <tiffio.h>

#include <array>
#include <cstdio>
#include <mutex>

namespace lumipage {
namespace {

// libtiff keeps pointers to the names, so they live for the whole process.
std::array<std::array<char, 12>, kTiffUserTagCount> g_names{};
std::array<TIFFFieldInfo, kTiffUserTagCount> g_fields{};
TIFFExtendProc g_parentExtender = nullptr;

void ExtendWithUserTags(TIFF* tif) {
  // Variable-count ASCII, settable at any time; no count argument on set (a C string).
  Tiff().MergeFieldInfo(tif, g_fields.data(), kTiffUserTagCount);
  if (g_parentExtender != nullptr) g_parentExtender(tif);
}

void Install() {
  for (int i = 0; i < kTiffUserTagCount; ++i) {
    std::snprintf(g_names[i].data(), g_names[i].size(), "UserTag%d", i + 1);
    g_fields[i] = TIFFFieldInfo{kTiffFirstUserTag + static_cast<uint32_t>(i),
                                TIFF_VARIABLE,
                                TIFF_VARIABLE,
                                TIFF_ASCII,
                                FIELD_CUSTOM,
                                1,
                                0,
                                g_names[i].data()};
  }
  g_parentExtender = Tiff().SetTagExtender(ExtendWithUserTags);
}

}  // namespace

void InstallTiffUserTags() {
  static std::once_flag once;
  std::call_once(once, Install);
}

}  // namespace lumipage
