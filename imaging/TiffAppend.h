#pragma once
// Appending pages to a TIFF file without damaging it: the check before, the append itself (its
// link into the old file held back until the page is on disk), the count after and the undo
// when an append fails. The pages themselves are written by TTiffGraphic::SaveToStream and
// AppendToStream (TiffWriter.cpp).
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "imaging/Stream.h"

namespace lumipage {

class TFileStream;
class TTiffGraphic;

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


// A page counts as saved in a multi-page file only once a reader finds exactly the pages
// expected on the file's chain of directories, the last one readable with the page's size;
// raises "The saved TIFF could not be verified: ..." otherwise. Returns where the last
// directory starts.
std::uint64_t CheckTiffPages(TStream& stream, int expected, std::int32_t width, std::int32_t height);

// Called with a file just written, before it is checked (the surroundings may look at it).
using TFileWritten = std::function<void(const std::string& fileName)>;

// One job's appends to a multi-page file in place. A page is appended after the file's old end
// and linked into the file's chain only once its data is on disk: a job killed in between
// leaves the old chain whole.
class TTiffAppend {
 public:
  TTiffAppend();
  ~TTiffAppend();
  TTiffAppend(const TTiffAppend&) = delete;
  TTiffAppend& operator=(const TTiffAppend&) = delete;

  // Appends tiff, the job's page number page, to the file name, not linked in yet; the helper
  // thread flushes it (LinkIn links it). Whatever fails on the way, the file is cut back to what
  // it was and the failure raised.
  void Append(TTiffGraphic& tiff, const std::string& name, int page);
  // A page waits to be linked in; its number.
  [[nodiscard]] bool Pending() const { return p_.Tiff != nullptr; }
  [[nodiscard]] int PendingPage() const { return p_.Page; }
  // Links the pending page in once its data is on disk (flushed: else why says what failed) and
  // checks the chain it makes. Whatever fails, the file is cut back to what it was before the
  // page. Returns the failure.
  std::exception_ptr LinkIn(bool flushed, const std::string& why, const TFileWritten& onWritten);

 private:
  using THeldBytes = std::vector<std::pair<std::int64_t, std::string>>;
  struct TPending {
    int Page = 0;                       // its number; 0: none
    std::unique_ptr<TFileStream> Tiff;  // the multi-page file, open and locked until then
    std::string TiffName;               // as the job names it
    std::string TiffPath;               // after following links
    std::int64_t TiffOldSize = 0;       // before the page
    THeldBytes Link;                    // what links the page in, held back
    int Expected = 0;                   // pages on the chain once it is linked in
    std::uint64_t PreviousLast = 0;     // the directory the page is linked to; 0: none known
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    // What the job's last checked append left on the chain. The next page of the same job
    // counts on from there while the file is as that append left it: each page's check reads
    // its own directory and the one before, however many pages the file holds.
    struct {
      std::string Path;
      int Page = 0;
      std::int64_t Size = 0;
      int Count = 0;
      std::uint64_t LastOffset = 0;
    } Chain;
  };
  TPending p_;
};

}  // namespace lumipage
