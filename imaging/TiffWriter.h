#pragma once
// Appending pages to a TIFF file without damaging it: the check before, the count after and the
// undo when an append fails. The pages themselves are written by TTiffGraphic::SaveToStream and
// AppendToStream (TiffWriter.cpp).
#include <cstdint>

#include "imaging/Stream.h"

namespace lumipage {

// Before appending to an existing TIFF: true when every directory of the file reads and every
// strip or tile it names lies inside the file. A truncated or damaged file would take the new
// pages where no reader finds them.
[[nodiscard]] bool TiffFileIsWhole(TStream& stream);
// What a reader finds in a multi-page file: the directories on its chain from the header (0
// when it cannot be read as a TIFF) and the size of the last one, read whole (0 x 0 when it
// cannot be read).
struct TTiffPages {
  int Count = 0;
  std::uint32_t LastWidth = 0;
  std::uint32_t LastHeight = 0;
  // Where the last directory starts (0 when it cannot be read).
  std::uint64_t LastOffset = 0;
};
[[nodiscard]] TTiffPages ReadTiffPages(TStream& stream);
// The same for the chain from the directory at offset onwards (that one counted), reading each
// directory whole: what an append adds after a directory known to be on the chain costs the
// same however long the file is. A chain that goes on past limit directories, or links on to
// something that is no directory, gives limit + 1 and no last directory.
[[nodiscard]] TTiffPages ReadTiffPagesFrom(TStream& stream, std::uint64_t offset, int limit);
// Where the last byte that the file's chain of directories refers to ends: the header, every
// directory, every value stored outside its entry, every strip and tile. -1 when that cannot be
// proven from the file: a directory or value that cannot be read, a loop, an entry of unknown
// type, or a tag that may point elsewhere in the file (sub-directories, EXIF and GPS blocks,
// free lists, private offsets). What lies beyond a proven end (the page of an append that was
// killed before it was linked in) belongs to no page.
[[nodiscard]] std::int64_t TiffReferencedEnd(TStream& stream);
// Undoes an append that failed: cuts the stream back to oldSize and clears the directory link
// that pointed past it, so the file reads exactly as before.
void TiffUndoAppend(TStream& stream, std::int64_t oldSize);

}  // namespace lumipage
