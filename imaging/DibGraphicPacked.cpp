#include "imaging/DibGraphic.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "imaging/BmpReader.h"
#include "imaging/DefaultPalettes.h"
#include "imaging/MemoryStream.h"
#include "imaging/PackedDib.h"

// TDibGraphic's import and export of packed DIBs (a scanner's page) and of decoded bitmaps (a
// BMP file's contents).

namespace lumipage {

namespace {

std::uint16_t DpiFromHeader(std::int32_t pelsPerMeter) {
  // Values above 65535 dpi or below 0 mean "unknown".
  const std::int64_t dpi = DpiFromPelsPerMetre(pelsPerMeter);
  if (pelsPerMeter <= 0 || dpi > 65535) return 0;
  return static_cast<std::uint16_t>(dpi);
}

}  // namespace

void TDibGraphic::LoadFromDibHandle(platform::HGLOBAL handle) { (void)LoadFromDib(handle, nullptr); }

bool TDibGraphic::TakeDibHandle(platform::GlobalBlock& block) { return LoadFromDib(block.get(), &block); }

bool TDibGraphic::LoadFromDib(platform::HGLOBAL handle, platform::GlobalBlock* owner) {
  platform::GlobalLockGuard lock(handle);
  const auto* base = lock.as<const std::uint8_t>();
  const std::size_t available = lock.size();
  if (!base || available < sizeof(TBitmapInfoHeader)) throw EOvinexError("Invalid HDIB");
  if (!DibBitCountValid(ReadBitmapInfoHeader(base).biBitCount)) throw EOvinexError("Unsupported bit count");
  const std::optional<TPackedDibView> dib = ReadPackedDib(base, available, kMaxImageDimension);
  if (!dib) throw EOvinexError("Invalid HDIB");
  const TBitmapInfoHeader& header = dib->Header;
  const unsigned bits = header.biBitCount;
  const std::int32_t height = dib->Height;

  TLogPalette palette = MakePalette(static_cast<std::uint16_t>(dib->Colours));
  for (std::uint32_t i = 0; i < dib->Colours; ++i)
    SetPaletteEntry(palette, i, dib->Table[4 * i + 2], dib->Table[4 * i + 1], dib->Table[4 * i]);

  TImageKind kind = ikTrueColor;
  if (bits == 1) kind = ikBlackWhite;
  if (bits == 4) kind = ikColor16;
  if (bits == 8) kind = ikColor256;
  const std::uint16_t dpiX = PelsPerMeterToDpi(header.biXPelsPerMeter);
  const std::uint16_t dpiY = PelsPerMeterToDpi(header.biYPelsPerMeter);

  if (dib->Plain()) {
    std::optional<platform::GlobalLockGuard> relock;
    if (owner && !dib->TopDown) {
      // The rows are already where a DIB keeps them: keep the block's memory.
      const auto rowsAt = static_cast<std::size_t>(dib->Pixels - base);
      lock.unlock();
      std::size_t size = 0;
      adopted_.memory = platform::GlobalDetach(handle, size);
      if (adopted_.memory) {
        // The block is gone: its owner must not free the handle, which a new block may reuse.
        (void)owner->release();
        adopted_.pixels = adopted_.memory.get() + rowsAt;
        adopted_.bytes = size - rowsAt;
        NewImageForOverwrite(header.biWidth, height, kind, bits <= 8 ? &palette : nullptr, dpiX, dpiY);
        return true;
      }
      relock.emplace(handle);  // held by someone else: copied below, under a lock again
    }
    NewImageForOverwrite(header.biWidth, height, kind, bits <= 8 ? &palette : nullptr, dpiX, dpiY);
    const std::uint8_t* src = relock ? relock->as<const std::uint8_t>() + (dib->Pixels - base) : dib->Pixels;
    if (!dib->TopDown) {
      std::memcpy(pixels_, src, ImageSize());
    } else {
      for (std::int32_t y = 0; y < height; ++y)
        std::memcpy(RowBits(y), src + static_cast<std::size_t>(y) * bytesPerRow_, bytesPerRow_);
    }
    return false;
  }

  // 16 and 32 bits or compressed data: decode a BMP file image of the block.
  const std::uint64_t dibSize = dib->Size();
  TMemoryStream bmp;
  const auto offBits = static_cast<std::uint32_t>(14 + (dib->Pixels - base));
  std::uint8_t fileHeader[14] = {'B', 'M'};
  const auto fileSize = static_cast<std::uint32_t>(14 + dibSize);
  std::memcpy(fileHeader + 2, &fileSize, 4);
  std::memcpy(fileHeader + 10, &offBits, 4);
  bmp.WriteBuffer(fileHeader, sizeof fileHeader);
  bmp.WriteBuffer(base, static_cast<std::size_t>(dibSize));
  bmp.SetPosition(0);
  LoadFromBitmapHandle(TBmpReader::Read(bmp));
  return false;
}

void TDibGraphic::NewImageFromBitmapHeader(const TBitmapInfoHeader& header, const std::vector<TRgbQuad>& colors) {
  const unsigned planes = header.biPlanes == 0 ? 1 : header.biPlanes;
  const unsigned bits = planes * header.biBitCount;
  TImageKind kind;
  switch (bits) {
    case 1: kind = ikBlackWhite; break;
    case 4: kind = ikColor16; break;
    case 8: kind = ikColor256; break;
    case 24: kind = ikTrueColor; break;
    default: throw EOvinexError("Unsupported bit count");
  }
  if (header.biWidth <= 0 || header.biHeight <= 0 || header.biWidth > kMaxImageDimension ||
      header.biHeight > kMaxImageDimension)
    throw EInvalidGraphic("Invalid bitmap");
  TLogPalette palette{};
  const TLogPalette* usePalette = nullptr;
  const std::size_t used = std::min<std::size_t>(header.biClrUsed, colors.size());
  if (bits <= 8 && used >= 1 && used <= 256) {
    palette = MakePalette(static_cast<std::uint16_t>(used));
    for (std::size_t i = 0; i < used; ++i) SetPaletteEntry(palette, i, colors[i].rgbRed, colors[i].rgbGreen, colors[i].rgbBlue);
    usePalette = &palette;
  }
  NewImageForOverwrite(header.biWidth, header.biHeight, kind, usePalette, DpiFromHeader(header.biXPelsPerMeter),
                       DpiFromHeader(header.biYPelsPerMeter));
}

void TDibGraphic::LoadFromBitmapHandle(const TDecodedBitmap& bitmap) {
  const TBitmapInfoHeader& header = bitmap.Header;
  const unsigned bits = (header.biPlanes == 0 ? 1u : header.biPlanes) * header.biBitCount;
  if (header.biWidth > 0 && header.biHeight > 0 &&
      bitmap.Bits.size() < BytesPerRowFor(header.biWidth, bits) * static_cast<std::uint64_t>(header.biHeight))
    throw EInvalidGraphic("Invalid bitmap");
  NewImageFromBitmapHeader(header, bitmap.Colors);
  std::memcpy(pixels_, bitmap.Bits.data(), ImageSize());
}

platform::HGLOBAL TDibGraphic::SaveToDibHandle() const {
  if (Empty()) return nullptr;
  const auto total = static_cast<std::size_t>(PackedDibSize(bitmapInfo_.bmiHeader));
  platform::GlobalBlock block(platform::GMEM_MOVEABLE, total);
  if (!block) throw EOvinexError("GlobalAlloc failed");
  {
    platform::GlobalLockGuard lock(block.get());
    auto* p = lock.as<std::uint8_t>();
    if (!p) throw EOvinexError("GlobalAlloc failed");
    std::memcpy(WritePackedDibHead(p, bitmapInfo_.bmiHeader, bitmapInfo_.bmiColors.data()), pixels_, ImageSize());
  }
  return block.release();
}

}  // namespace lumipage
