#include "imaging/TiffAppend.h"

#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/Errors.h"
#include "imaging/FileStream.h"
#include "imaging/TiffGraphic.h"
#include "imaging/TiffHandle.h"
#include "platform/ByteOrder.h"
#include "platform/FileReplace.h"
#include "platform/Files.h"
#include "imaging/TiffLibrary.h"

namespace lumipage {

bool TiffFileIsWhole(TStream& stream) {
  const std::int64_t size = stream.Size();
  if (size == 0) return true;  // an empty file is written anew
  stream.SetPosition(0);
  try {
    TTiffHandle handle(stream, "rc", 0);
    TIFF* tif = handle.Get();
    do {
      std::uint32_t width = 0, length = 0;
      if (Tiff().GetField(tif, TIFFTAG_IMAGEWIDTH, &width) != 1 || width == 0) return false;
      if (Tiff().GetField(tif, TIFFTAG_IMAGELENGTH, &length) != 1 || length == 0) return false;
      const std::uint32_t pieces = Tiff().IsTiled(tif) ? Tiff().NumberOfTiles(tif) : Tiff().NumberOfStrips(tif);
      if (pieces == 0) return false;
      for (std::uint32_t i = 0; i < pieces; ++i) {
        const std::uint64_t offset = Tiff().GetStrileOffset(tif, i);
        const std::uint64_t count = Tiff().GetStrileByteCount(tif, i);
        if (count == 0 || offset > static_cast<std::uint64_t>(size) || count > static_cast<std::uint64_t>(size) - offset)
          return false;
      }
      if (Tiff().LastDirectory(tif)) return true;
    } while (Tiff().ReadDirectory(tif) == 1);
    return false;  // a next directory that cannot be read
  } catch (const std::exception&) {
    return false;
  }
}

namespace {

// The size and place of the directory libtiff has read last, when it gives a size.
void TakeLastDirectory(TIFF* tif, TTiffPages& pages) {
  std::uint32_t width = 0, length = 0;
  if (Tiff().GetField(tif, TIFFTAG_IMAGEWIDTH, &width) != 1 || Tiff().GetField(tif, TIFFTAG_IMAGELENGTH, &length) != 1) return;
  pages.LastWidth = width;
  pages.LastHeight = length;
  pages.LastOffset = Tiff().CurrentDirOffset(tif);
}

}  // namespace

TTiffPages ReadTiffPages(TStream& stream) {
  TTiffPages pages;
  try {
    stream.SetPosition(0);
    TTiffHandle handle(stream, "r", 0);
    TIFF* tif = handle.Get();
    // Follows the chain reading only each directory's entry count and link; loops end it.
    pages.Count = static_cast<int>(Tiff().NumberOfDirectories(tif));
    if (pages.Count > 0 && Tiff().SetDirectory(tif, static_cast<tdir_t>(pages.Count - 1)) == 1) TakeLastDirectory(tif, pages);
  } catch (const std::exception&) {
  }
  return pages;
}

namespace {

// The file as a reader sees it when its header names another directory as the first: libtiff
// then reads the chain from there on without following it from the start, as it would to place
// a directory it is sent to.
class TChainFromStream final : public TStream {
 public:
  TChainFromStream(TStream& file, std::int64_t linkAt, const std::uint8_t* link, std::size_t linkSize)
      : file_(file), linkAt_(linkAt), linkSize_(linkSize) {
    std::copy(link, link + linkSize, link_);
  }
  std::size_t Read(void* buffer, std::size_t count) override {
    const std::int64_t at = file_.Position();
    const std::size_t n = file_.Read(buffer, count);
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    for (std::size_t i = 0; i < linkSize_; ++i) {
      const std::int64_t pos = linkAt_ + static_cast<std::int64_t>(i);
      if (pos >= at && pos < at + static_cast<std::int64_t>(n)) bytes[pos - at] = link_[i];
    }
    return n;
  }
  std::size_t Write(const void*, std::size_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override { return file_.Seek(offset, origin); }
  std::int64_t Size() override { return file_.Size(); }

 private:
  TStream& file_;
  std::int64_t linkAt_;
  std::size_t linkSize_;
  std::uint8_t link_[8] = {};
};

}  // namespace

TTiffPages ReadTiffPagesFrom(TStream& stream, std::uint64_t offset, int limit) {
  TTiffPages pages;
  try {
    std::uint8_t head[4] = {};
    stream.SetPosition(0);
    if (offset == 0 || stream.Read(head, 4) != 4) return pages;
    const bool bigEndian = head[0] == 'M';
    if (head[0] != head[1] || (head[0] != 'I' && head[0] != 'M')) return pages;
    const int version = bigEndian ? head[2] << 8 | head[3] : head[3] << 8 | head[2];
    if (version != 42 && version != 43) return pages;
    // Where the header names the first directory: 4 bytes at 4, or 8 at 8 in a BigTIFF.
    const std::size_t size = version == 42 ? 4 : 8;
    if (size == 4 && offset > 0xFFFFFFFFu) return pages;
    std::uint8_t link[8] = {};
    for (std::size_t i = 0; i < size; ++i) link[bigEndian ? size - 1 - i : i] = static_cast<std::uint8_t>(offset >> (8 * i));
    TChainFromStream from(stream, static_cast<std::int64_t>(size), link, size);
    stream.SetPosition(0);
    TTiffHandle handle(from, "r", 0);
    TIFF* tif = handle.Get();
    pages.Count = 1;
    while (!Tiff().LastDirectory(tif)) {
      // A link on past the limit, or into something that is no directory.
      if (pages.Count >= limit || Tiff().ReadDirectory(tif) != 1) return TTiffPages{limit + 1, 0, 0, 0};
      ++pages.Count;
    }
    TakeLastDirectory(tif, pages);
  } catch (const std::exception&) {
  }
  return pages;
}

namespace {

std::uint64_t ReadUnsigned(TStream& stream, std::int64_t at, int bytes, bool bigEndian, bool& ok) {
  std::uint8_t b[8] = {};
  stream.SetPosition(at);
  if (stream.Read(b, static_cast<std::size_t>(bytes)) != static_cast<std::size_t>(bytes)) {
    ok = false;
    return 0;
  }
  return platform::Load(b, static_cast<std::size_t>(bytes), bigEndian);
}

}  // namespace

namespace {

// Bytes per value of a TIFF field type; 0 for a type this reader does not know.
int TiffTypeSize(std::uint16_t type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;    // BYTE, ASCII, SBYTE, UNDEFINED
    case 3: case 8: return 2;                    // SHORT, SSHORT
    case 4: case 9: case 11: case 13: return 4;  // LONG, SLONG, FLOAT, IFD
    case 5: case 10: case 12: case 16: case 17: case 18: return 8;  // RATIONAL, SRATIONAL, DOUBLE, LONG8, SLONG8, IFD8
    default: return 0;
  }
}

// Tags of whole-number type that hold no place in the file: anything else of such a type may be
// an offset to bytes of its own, and the end is then not proven.
bool TiffCountTag(std::uint16_t tag) {
  switch (tag) {
    case 254: case 255: case 256: case 257: case 258: case 259: case 262: case 263: case 264: case 265:
    case 266: case 274: case 277: case 278: case 280: case 281: case 284: case 290: case 292: case 293:
    case 296: case 297: case 317: case 318: case 319: case 320: case 321: case 322: case 323: case 332:
    case 338: case 339: case 340: case 341: case 530: case 531: case 532:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::int64_t TiffReferencedEnd(TStream& stream) {
  const std::int64_t size = stream.Size();
  bool ok = true;
  std::uint8_t head[4] = {};
  stream.SetPosition(0);
  if (size < 8 || stream.Read(head, 4) != 4 || head[0] != head[1] || (head[0] != 'I' && head[0] != 'M')) return -1;
  const bool bigEndian = head[0] == 'M';
  const std::uint64_t version = ReadUnsigned(stream, 2, 2, bigEndian, ok);
  if (!ok || (version != 42 && version != 43)) return -1;
  const bool big = version == 43;
  const int pointer = big ? 8 : 4;
  const int countBytes = big ? 8 : 2;
  const int entryBytes = big ? 20 : 12;
  const auto fileSize = static_cast<std::uint64_t>(size);
  std::uint64_t end = big ? 16 : 8;
  auto covers = [&](std::uint64_t offset, std::uint64_t bytes) {
    if (offset > fileSize || bytes > fileSize - offset) return false;
    end = std::max(end, offset + bytes);
    return true;
  };
  // Reads a field's values as unsigned numbers (SHORT, LONG or LONG8).
  auto values = [&](std::uint16_t type, std::uint64_t count, std::int64_t at, std::vector<std::uint64_t>& out) {
    const int each = TiffTypeSize(type);
    if ((type != 3 && type != 4 && type != 16) || count > fileSize / static_cast<std::uint64_t>(each)) return false;
    std::uint64_t from = static_cast<std::uint64_t>(at);
    if (count * static_cast<std::uint64_t>(each) > static_cast<std::uint64_t>(pointer)) {
      from = ReadUnsigned(stream, at, pointer, bigEndian, ok);
      if (!ok) return false;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count) * static_cast<std::size_t>(each));
    stream.SetPosition(static_cast<std::int64_t>(from));
    if (!bytes.empty() && stream.Read(bytes.data(), bytes.size()) != bytes.size()) return false;
    out.resize(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < out.size(); ++i)
      out[i] = platform::Load(bytes.data() + i * static_cast<std::size_t>(each), static_cast<std::size_t>(each), bigEndian);
    return true;
  };
  std::vector<std::uint64_t> seen;
  std::uint64_t next = ReadUnsigned(stream, big ? 8 : 4, pointer, bigEndian, ok);
  while (ok && next != 0) {
    if (seen.size() >= 65536 || std::find(seen.begin(), seen.end(), next) != seen.end()) return -1;
    seen.push_back(next);
    const std::uint64_t count = ReadUnsigned(stream, static_cast<std::int64_t>(next), countBytes, bigEndian, ok);
    if (!ok || count == 0 || count > 0xFFFF) return -1;
    const std::uint64_t entries = next + static_cast<std::uint64_t>(countBytes);
    if (!covers(next, static_cast<std::uint64_t>(countBytes) + count * static_cast<std::uint64_t>(entryBytes) +
                          static_cast<std::uint64_t>(pointer)))
      return -1;
    std::vector<std::uint64_t> pieceOffsets[2], pieceCounts[2];  // strips, tiles
    for (std::uint64_t i = 0; i < count; ++i) {
      const auto at = static_cast<std::int64_t>(entries + i * static_cast<std::uint64_t>(entryBytes));
      const auto tag = static_cast<std::uint16_t>(ReadUnsigned(stream, at, 2, bigEndian, ok));
      const auto type = static_cast<std::uint16_t>(ReadUnsigned(stream, at + 2, 2, bigEndian, ok));
      const std::uint64_t n = ReadUnsigned(stream, at + 4, big ? 8 : 4, bigEndian, ok);
      const std::int64_t valueAt = at + (big ? 12 : 8);
      const int each = TiffTypeSize(type);
      if (!ok || each == 0 || n > fileSize) return -1;
      const std::uint64_t bytes = n * static_cast<std::uint64_t>(each);
      if (bytes > static_cast<std::uint64_t>(pointer)) {
        const std::uint64_t offset = ReadUnsigned(stream, valueAt, pointer, bigEndian, ok);
        if (!ok || !covers(offset, bytes)) return -1;
      }
      if (tag == 273 || tag == 279 || tag == 324 || tag == 325) {
        const int kind = tag == 273 || tag == 279 ? 0 : 1;
        auto& list = tag == 273 || tag == 324 ? pieceOffsets[kind] : pieceCounts[kind];
        if (!values(type, n, valueAt, list)) return -1;
        continue;
      }
      const bool number = type == 3 || type == 4 || type == 8 || type == 9 || type == 13 || type == 16 ||
                          type == 17 || type == 18;
      // Text, rationals, bytes and the like are values; whole numbers may be offsets.
      if (number && (type == 13 || type == 18 || !TiffCountTag(tag))) return -1;
    }
    for (int kind = 0; kind < 2; ++kind) {
      if (pieceOffsets[kind].size() != pieceCounts[kind].size()) return -1;
      for (std::size_t k = 0; k < pieceOffsets[kind].size(); ++k)
        if (!covers(pieceOffsets[kind][k], pieceCounts[kind][k])) return -1;
    }
    if (pieceOffsets[0].empty() && pieceOffsets[1].empty()) return -1;
    next = ReadUnsigned(stream, static_cast<std::int64_t>(entries + count * static_cast<std::uint64_t>(entryBytes)),
                        pointer, bigEndian, ok);
  }
  if (!ok) return -1;
  return static_cast<std::int64_t>(end);
}

void TiffUndoAppend(TStream& stream, std::int64_t oldSize) {
  stream.SetSize(oldSize);
  bool ok = true;
  std::uint8_t head[4] = {};
  stream.SetPosition(0);
  if (stream.Read(head, 4) != 4) return;
  const bool bigEndian = head[0] == 'M';
  const bool big = ReadUnsigned(stream, 2, 2, bigEndian, ok) == 43;
  const int pointer = big ? 8 : 4;
  const int countBytes = big ? 8 : 2;
  const int entryBytes = big ? 20 : 12;
  // Walk the chain of directories; the link that points past the old end is the one the
  // failed append wrote.
  std::int64_t link = big ? 8 : 4;
  for (int guard = 0; ok && guard < 65536; ++guard) {
    const std::uint64_t next = ReadUnsigned(stream, link, pointer, bigEndian, ok);
    if (!ok || next == 0) return;
    if (next >= static_cast<std::uint64_t>(oldSize)) {
      const std::uint8_t zero[8] = {};
      stream.SetPosition(link);
      stream.WriteBuffer(zero, static_cast<std::size_t>(pointer));
      return;
    }
    const std::uint64_t count = ReadUnsigned(stream, static_cast<std::int64_t>(next), countBytes, bigEndian, ok);
    if (!ok || count > 0xFFFFFF) return;
    link = static_cast<std::int64_t>(next) + countBytes + static_cast<std::int64_t>(count) * entryBytes;
  }
}

namespace {

using THeldBytes = std::vector<std::pair<std::int64_t, std::string>>;

// An append to a file in place, holding back what it writes inside the old file (the link
// from the last directory to the new one) until the new page after the old end is on disk.
// libtiff links the new directory before writing it: a job killed between the two would leave
// a link into nothing. Held back, the old chain stays whole until the page is complete.
class TLinkLastStream final : public TStream {
 public:
  TLinkLastStream(TFileStream& file, std::int64_t oldSize) : file_(file), oldSize_(oldSize) {}

  std::size_t Read(void* buffer, std::size_t count) override {
    const std::int64_t at = file_.Position();
    const std::size_t n = file_.Read(buffer, count);
    auto* out = static_cast<char*>(buffer);
    // Reads see the held-back bytes, the later of two over the same place.
    for (const auto& [pos, bytes] : held_) {
      const std::int64_t from = std::max(at, pos);
      const std::int64_t to = std::min<std::int64_t>(at + static_cast<std::int64_t>(n), pos + static_cast<std::int64_t>(bytes.size()));
      for (std::int64_t i = from; i < to; ++i) out[i - at] = bytes[static_cast<std::size_t>(i - pos)];
    }
    return n;
  }
  std::size_t Write(const void* buffer, std::size_t count) override {
    const std::int64_t at = file_.Position();
    if (at >= oldSize_) return file_.Write(buffer, count);
    const auto* in = static_cast<const char*>(buffer);
    const std::size_t inside = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(count), oldSize_ - at));
    held_.emplace_back(at, std::string(in, inside));
    file_.SetPosition(at + static_cast<std::int64_t>(inside));
    return inside == count ? count : inside + file_.Write(in + inside, count - inside);
  }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override { return file_.Seek(offset, origin); }
  std::int64_t Size() override { return file_.Size(); }
  void SetSize(std::int64_t newSize) override { file_.SetSize(newSize); }

  // The held-back bytes, for writing into the old file later.
  THeldBytes TakeHeldBack() { return std::exchange(held_, {}); }

 private:
  TFileStream& file_;
  std::int64_t oldSize_;
  THeldBytes held_;
};

// Cuts an append back to the file's old length; the first failure is the one to report.
void UndoAppend(TFileStream& stream, std::int64_t oldSize) noexcept {
  try {
    TiffUndoAppend(stream, oldSize);
    (void)::fsync(stream.Handle());
  } catch (...) {
  }
}

}  // namespace

std::uint64_t CheckTiffPages(TStream& stream, int expected, std::int32_t width, std::int32_t height) {
  const TTiffPages found = ReadTiffPages(stream);
  std::string failure;
  if (found.Count != expected) {
    failure = "it has " + std::to_string(found.Count) + (found.Count == 1 ? " page" : " pages") + " instead of " +
              std::to_string(expected);
  } else if (found.LastWidth == 0 || found.LastHeight == 0) {
    failure = "page " + std::to_string(expected) + " cannot be read";
  } else if (found.LastWidth != static_cast<std::uint32_t>(width) ||
             found.LastHeight != static_cast<std::uint32_t>(height)) {
    failure = "page " + std::to_string(expected) + " is " + std::to_string(found.LastWidth) + " x " +
              std::to_string(found.LastHeight) + " pixels instead of " + std::to_string(width) + " x " +
              std::to_string(height);
  }
  if (!failure.empty()) throw EOvinexError("The saved TIFF could not be verified: " + failure);
  return found.LastOffset;
}

TTiffAppend::TTiffAppend() = default;
TTiffAppend::~TTiffAppend() = default;

std::exception_ptr TTiffAppend::LinkIn(bool flushed, const std::string& why, const TFileWritten& onWritten) {
  TPending& p = p_;
  const std::unique_ptr<TFileStream> stream = std::move(p.Tiff);
  const THeldBytes link = std::exchange(p.Link, {});
  try {
    if (!flushed) throw EWriteError("Cannot write file \"" + p.TiffName + "\". " + why);
    for (const auto& [pos, bytes] : link) {
      stream->SetPosition(pos);
      stream->WriteBuffer(bytes.data(), bytes.size());
    }
    if (onWritten) onWritten(p.TiffPath);
    p.Chain = {};
    // The directory the page was linked to leads to the page's own, and that ends the chain:
    // with the pages counted up to there, the file holds one more. Anything else, and the
    // whole chain is counted to say what is wrong.
    const TTiffPages added = p.PreviousLast != 0 ? ReadTiffPagesFrom(*stream, p.PreviousLast, 2) : TTiffPages{};
    const std::uint64_t last = added.Count == 2 && added.LastWidth == static_cast<std::uint32_t>(p.Width) &&
                                       added.LastHeight == static_cast<std::uint32_t>(p.Height)
                                   ? added.LastOffset
                                   : CheckTiffPages(*stream, p.Expected, p.Width, p.Height);
    p.Chain = {p.TiffPath, p.Page, stream->Size(), p.Expected, last};
    // The link is on disk with the next page's flush, or before the report.
    platform::DeferSync(p.TiffPath);
    return nullptr;
  } catch (...) {
    const std::exception_ptr failure = stream->NameWriteFailure(std::current_exception());
    UndoAppend(*stream, p.TiffOldSize);
    return failure;
  }
}

void TTiffAppend::Append(TTiffGraphic& tiff, const std::string& name, int page) {
  platform::TSaveTarget target;
  const std::string error = platform::ResolveSaveTarget(name, target);
  if (!error.empty()) throw EFOpenError("Cannot open file \"" + name + "\". " + error);
  auto stream = std::make_unique<TFileStream>(target.Path, fmOpenReadWrite | fmShareExclusive);
  std::int64_t oldSize = stream->Size();
  stream->StartWritebackEarly();
  TPending& p = p_;
  try {
    // The chain is counted once a job; later pages count on from the page before.
    const auto& chain = p.Chain;
    int before = 0;
    std::uint64_t previousLast = 0;
    if (page > 1 && chain.Page == page - 1 && chain.Path == target.Path &&
        chain.Size == oldSize && chain.LastOffset != 0) {
      before = chain.Count;
      previousLast = chain.LastOffset;
    } else if (oldSize != 0) {
      // The bytes of a page that a killed job wrote but never linked in: when the file proves
      // that no directory refers to them, this page takes their place instead of following them.
      const std::int64_t used = TiffReferencedEnd(*stream);
      if (used > 0 && used < oldSize) {
        stream->SetSize(used);
        oldSize = used;
      }
      const TTiffPages found = ReadTiffPages(*stream);
      before = found.Count;
      previousLast = found.LastOffset;
    }
    p.Chain = {};
    TLinkLastStream appending(*stream, oldSize);
    tiff.AppendToStream(appending);
    p.TiffName = name;
    p.TiffPath = target.Path;
    p.TiffOldSize = oldSize;
    p.Link = appending.TakeHeldBack();
    p.Page = page;
    p.Expected = before + 1;
    p.PreviousLast = previousLast;
    p.Width = tiff.Width();
    p.Height = tiff.Height();
    platform::FlushInBackground(stream->Handle(), name);
    p.Tiff = std::move(stream);
  } catch (...) {
    p.Link.clear();
    const std::exception_ptr failure = stream->NameWriteFailure(std::current_exception());
    UndoAppend(*stream, oldSize);
    std::rethrow_exception(failure);
  }
}

}  // namespace lumipage
