#include "imaging/DibGraphic.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <optional>

#include "imaging/BmpReader.h"
#include "imaging/Canvas.h"
#include "imaging/FileStream.h"
#include "imaging/MemoryStream.h"
#include "platform/FileReplace.h"
#include "platform/Files.h"
#include "platform/LargeMemory.h"
#include "platform/Messages.h"

namespace lumipage {

namespace {

// --- Default palettes ------------------------------------------------------------------------

TLogPalette MakePalette(std::uint16_t count) {
  TLogPalette p{};
  p.palVersion = kPaletteVersion;
  p.palNumEntries = count;
  return p;
}

void SetEntry(TLogPalette& p, std::size_t i, int r, int g, int b) {
  p.palPalEntry[i] = TPaletteEntry{static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g),
                                   static_cast<std::uint8_t>(b), 0};
}

constexpr int kColor16[16][3] = {
    {0, 0, 0},       {0, 0, 170},    {0, 170, 0},     {0, 170, 170},  {170, 0, 0},    {170, 0, 170},
    {170, 85, 0},    {170, 170, 170}, {85, 85, 85},   {85, 85, 255},  {85, 255, 85},  {85, 255, 255},
    {255, 85, 85},   {255, 85, 255}, {255, 255, 85},  {255, 255, 255}};

// VGA DAC values are 6 bits; this widens them to 8 bits the way the VGA default palette is
// usually quoted (63 -> 255, 50 -> 203).
int Vga8(int v6) { return (v6 << 2) | (v6 >> 4); }

TLogPalette BuildColor256() {
  TLogPalette p = MakePalette(256);
  for (std::size_t i = 0; i < 16; ++i) SetEntry(p, i, kColor16[i][0], kColor16[i][1], kColor16[i][2]);
  constexpr int kGrey[16] = {0, 5, 8, 11, 14, 17, 20, 24, 28, 32, 36, 40, 45, 50, 56, 63};
  for (std::size_t i = 0; i < 16; ++i) {
    const int v = Vga8(kGrey[i]);
    SetEntry(p, 16 + i, v, v, v);
  }
  // Nine rings of 24 hues: three intensities, each in three saturations; each ring runs from
  // blue through magenta, red, yellow, green and cyan. Levels lo..hi in five steps.
  constexpr int kRings[9][5] = {{0, 16, 31, 47, 63},  {31, 39, 47, 55, 63}, {45, 49, 54, 58, 63},
                                {0, 7, 14, 21, 28},   {14, 17, 21, 24, 28}, {20, 22, 24, 26, 28},
                                {0, 4, 8, 12, 16},    {8, 10, 12, 14, 16},  {11, 12, 13, 15, 16}};
  std::size_t k = 32;
  for (const auto& ring : kRings) {
    int v[5];
    for (int j = 0; j < 5; ++j) v[j] = Vga8(ring[j]);
    const int lo = v[0];
    const int hi = v[4];
    for (int j = 0; j < 4; ++j) SetEntry(p, k++, v[j], lo, hi);       // blue -> magenta
    for (int j = 4; j > 0; --j) SetEntry(p, k++, hi, lo, v[j]);       // magenta -> red
    for (int j = 0; j < 4; ++j) SetEntry(p, k++, hi, v[j], lo);       // red -> yellow
    for (int j = 4; j > 0; --j) SetEntry(p, k++, v[j], hi, lo);       // yellow -> green
    for (int j = 0; j < 4; ++j) SetEntry(p, k++, lo, hi, v[j]);       // green -> cyan
    for (int j = 4; j > 0; --j) SetEntry(p, k++, lo, v[j], hi);       // cyan -> blue
  }
  for (; k < 256; ++k) SetEntry(p, k, 0, 0, 0);
  return p;
}

struct DefaultPalettes {
  TLogPalette blackWhite = MakePalette(2);
  TLogPalette gray16 = MakePalette(16);
  TLogPalette gray256 = MakePalette(256);
  TLogPalette color16 = MakePalette(16);
  TLogPalette color256 = BuildColor256();

  DefaultPalettes() {
    SetEntry(blackWhite, 1, 255, 255, 255);
    for (int i = 0; i < 16; ++i) SetEntry(gray16, static_cast<std::size_t>(i), 17 * i, 17 * i, 17 * i);
    for (int i = 0; i < 256; ++i) SetEntry(gray256, static_cast<std::size_t>(i), i, i, i);
    for (std::size_t i = 0; i < 16; ++i) SetEntry(color16, i, kColor16[i][0], kColor16[i][1], kColor16[i][2]);
  }
};

const DefaultPalettes& Palettes() {
  static const DefaultPalettes palettes;
  return palettes;
}

// --- Pixel routines, one pair per bit depth --------------------------------------------------

std::uint32_t Get1(const std::uint8_t* row, std::int32_t x) {
  return (row[x >> 3] >> (7 - (x & 7))) & 1u;
}
void Set1(std::uint8_t* row, std::int32_t x, std::uint32_t v) {
  const auto mask = static_cast<std::uint8_t>(0x80u >> (x & 7));
  if (v > 0) {
    row[x >> 3] |= mask;
  } else {
    row[x >> 3] &= static_cast<std::uint8_t>(~mask);
  }
}
std::uint32_t Get4(const std::uint8_t* row, std::int32_t x) {
  const std::uint8_t b = row[x >> 1];
  return (x & 1) ? (b & 0x0Fu) : (b >> 4);
}
void Set4(std::uint8_t* row, std::int32_t x, std::uint32_t v) {
  std::uint8_t& b = row[x >> 1];
  if (x & 1) {
    b = static_cast<std::uint8_t>((b & 0xF0) | (v & 0x0F));
  } else {
    b = static_cast<std::uint8_t>((b & 0x0F) | ((v & 0x0F) << 4));
  }
}
std::uint32_t Get8(const std::uint8_t* row, std::int32_t x) { return row[x]; }
void Set8(std::uint8_t* row, std::int32_t x, std::uint32_t v) { row[x] = static_cast<std::uint8_t>(v); }
std::uint32_t Get24(const std::uint8_t* row, std::int32_t x) {
  const std::uint8_t* p = row + 3 * static_cast<std::ptrdiff_t>(x);
  return p[0] | (static_cast<std::uint32_t>(p[1]) << 8) | (static_cast<std::uint32_t>(p[2]) << 16);
}
void Set24(std::uint8_t* row, std::int32_t x, std::uint32_t v) {
  std::uint8_t* p = row + 3 * static_cast<std::ptrdiff_t>(x);
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
}

std::uint16_t DpiFromHeader(std::int32_t pelsPerMeter) {
  // Values above 65535 dpi or below 0 mean "unknown".
  const std::int64_t dpi = DpiFromPelsPerMetre(pelsPerMeter);
  if (pelsPerMeter <= 0 || dpi > 65535) return 0;
  return static_cast<std::uint16_t>(dpi);
}

std::map<std::string, std::pair<std::string, TGraphicFactory>>& Registry() {
  static std::map<std::string, std::pair<std::string, TGraphicFactory>> registry;
  return registry;
}

std::string UpperExtension(const std::string& extension) {
  std::string key = extension;
  if (!key.empty() && key.front() == '.') key.erase(0, 1);
  for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

}  // namespace

// --- Module functions ----------------------------------------------------------------------------

unsigned BitsPerPixelOf(TImageKind kind) {
  switch (kind) {
    case ikBlackWhite: return 1;
    case ikGray16:
    case ikColor16: return 4;
    case ikGray256:
    case ikColor256: return 8;
    case ikTrueColor: return 24;
  }
  throw EOvinexError("Internal error: Invalid image format");
}

std::uint64_t BytesPerRowFor(std::int64_t width, unsigned bits) {
  if (width <= 0) return 0;
  return DibStride(static_cast<std::uint64_t>(width), bits);
}

std::string ImageKindName(unsigned kind) {
  static const char* const kNames[] = {"Black and white", "16 shades of gray", "256 shades of gray",
                                       "16 color",        "256 color",         "True color"};
  return kind <= 5 ? kNames[kind] : "";
}

const TLogPalette* DefaultPalette(TImageKind kind) {
  const DefaultPalettes& p = Palettes();
  switch (kind) {
    case ikBlackWhite: return &p.blackWhite;
    case ikGray16: return &p.gray16;
    case ikGray256: return &p.gray256;
    case ikColor16: return &p.color16;
    case ikColor256: return &p.color256;
    default: return nullptr;
  }
}

std::int32_t DpiToPelsPerMeter(std::uint16_t dpi) { return PelsPerMetreFromDpi(dpi); }

std::uint16_t PelsPerMeterToDpi(std::int32_t pelsPerMeter) {
  return static_cast<std::uint16_t>(DpiFromPelsPerMetre(pelsPerMeter));
}

void RegisterImageFileFormat(const std::string& extension, const std::string& description,
                             TGraphicFactory factory) {
  Registry()[UpperExtension(extension)] = {description, factory};
}

TGraphicFactory FindImageFileFormat(const std::string& extension) {
  const auto it = Registry().find(UpperExtension(extension));
  return it == Registry().end() ? nullptr : it->second.second;
}

std::string ImageFileFormatDescription(const std::string& extension) {
  const auto it = Registry().find(UpperExtension(extension));
  return it == Registry().end() ? std::string() : it->second.first;
}

// --- TDibGraphic ------------------------------------------------------------------------------------

TDibGraphic::TDibGraphic() = default;

TDibGraphic::~TDibGraphic() {
  frames_.clear();
  Release();
}

std::unique_ptr<TDibGraphic> TDibGraphic::CreateSame() const { return std::make_unique<TDibGraphic>(); }

bool TDibGraphic::IsFormatOf(TStream&) { return false; }
int TDibGraphic::GetImageCount(TStream&) { return 1; }
void TDibGraphic::LoadImage(TStream&, int) {}

void TDibGraphic::AppendToStream(TStream&) {
  throw EOvinexError(std::string("The ") + ClassName() + " format does not support multiple images");
}

void TDibGraphic::SaveToStream(TStream&) {}

void TDibGraphic::Progress(std::int64_t current, std::int64_t minimum, std::int64_t maximum) {
  lastProgress_ = DoProgress(ProgressCallback, this, current, minimum, maximum, lastProgress_);
}

void TDibGraphic::Release() {
  canvas_.reset();
  converter_.reset();
  buffer_.reset();
  pixels_ = nullptr;
  getPixel_ = nullptr;
  setPixel_ = nullptr;
  bytesPerRow_ = 0;
  bitmapInfo_ = TBitmapInfo{};
}

void TDibGraphic::NewImage(std::int32_t width, std::int32_t height, TImageKind kind,
                           const TLogPalette* palette, std::uint16_t dpiX, std::uint16_t dpiY) {
  // The palette may be this image's own record (a re-created image keeps its colours).
  TLogPalette paletteCopy{};
  if (palette) paletteCopy = *palette;
  // A taken block serves this call only, and only one whose caller writes every pixel.
  Adopted adopted = std::move(adopted_);
  adopted_ = Adopted{};
  Release();
  try {
    const unsigned bits = BitsPerPixelOf(kind);
    imageKind_ = kind;
    if (kind != ikTrueColor && !palette) paletteCopy = *DefaultPalette(kind);
    if (width <= 0 || height <= 0 || width > kMaxImageDimension || height > kMaxImageDimension)
      throw EOutOfResources("Out of resources");
    const std::uint64_t bytesPerRow = BytesPerRowFor(width, bits);
    const std::uint64_t imageSize = bytesPerRow * static_cast<std::uint64_t>(height);
    if (imageSize > kMaxImageBytes) throw EOutOfResources("Out of resources");

    // A palette longer than the kind can index would make the colour table invalid and let the
    // nearest-colour search pick indices the pixels cannot hold.
    std::uint32_t entries = 0;
    if (kind != ikTrueColor) {
      entries = std::min<std::uint32_t>(paletteCopy.palNumEntries, 1u << bits);
      paletteCopy.palNumEntries = static_cast<std::uint16_t>(entries);
    }

    bitmapInfo_.bmiHeader = PackedDibHeader(width, height, bits, entries, dpiX > 0 ? dpiX : kScreenDpi,
                                           dpiY > 0 ? dpiY : kScreenDpi);
    bytesPerRow_ = static_cast<std::uint32_t>(bytesPerRow);
    for (std::uint32_t i = 0; i < entries; ++i) {
      const TPaletteEntry& e = paletteCopy.palPalEntry[i];
      bitmapInfo_.bmiColors[i] = TRgbQuad{e.peBlue, e.peGreen, e.peRed, 0};
    }

    // Zeroed like a fresh DIB section, unless the caller overwrites every pixel anyway; then
    // only the bits after each row's last pixel are cleared, so files stay deterministic.
    const auto bytes = static_cast<std::size_t>(imageSize);
    const bool taken = overwrite_ && adopted.memory && adopted.bytes >= bytes;
    if (taken) {
      buffer_ = std::move(adopted.memory);
      pixels_ = adopted.pixels;
    } else {
      buffer_.reset(static_cast<std::uint8_t*>(platform::AllocateLarge(bytes, !overwrite_)));
      if (!buffer_) throw EOutOfResources("Out of resources");
      pixels_ = buffer_.get();
    }
    if (overwrite_) {
#ifndef NDEBUG
      // Debug builds make a pixel that a caller forgot to write visible in tests.
      if (!taken) std::memset(pixels_, 0xA5, bytes);
#endif
      // Whole pixel bytes; a taken block's rows are already written, partial last byte included.
      const std::size_t rowBits = static_cast<std::size_t>(width) * bits;
      const std::size_t used = taken ? (rowBits + 7) / 8 : rowBits / 8;
      for (std::int32_t y = 0; y < height; ++y)
        std::memset(pixels_ + static_cast<std::size_t>(y) * bytesPerRow + used, 0, bytesPerRow - used);
    }

    switch (bits) {
      case 1: getPixel_ = Get1; setPixel_ = Set1; break;
      case 4: getPixel_ = Get4; setPixel_ = Set4; break;
      case 8: getPixel_ = Get8; setPixel_ = Set8; break;
      default: getPixel_ = Get24; setPixel_ = Set24; break;
    }

    logPalette_ = TLogPalette{};
    if (kind != ikTrueColor) {
      std::memcpy(&logPalette_, &paletteCopy, 4 + 4 * static_cast<std::size_t>(entries));
      logPalette_.palVersion = kPaletteVersion;
      converter_ = std::make_unique<TRgbToPaletteConverter>(&logPalette_);
    }
    canvas_ = std::make_unique<TCanvas>(*this);
  } catch (...) {
    Release();
    throw;
  }
}

void TDibGraphic::NewImageForOverwrite(std::int32_t width, std::int32_t height, TImageKind kind,
                                       const TLogPalette* palette, std::uint16_t dpiX, std::uint16_t dpiY) {
  struct Flag {
    bool& flag;
    ~Flag() { flag = false; }
  } reset{overwrite_};
  overwrite_ = true;
  NewImage(width, height, kind, palette, dpiX, dpiY);
}

void TDibGraphic::SetWidth(std::int32_t) {
  throw EOvinexError("Dimensions must be change with the NewImage method");
}
void TDibGraphic::SetHeight(std::int32_t) {
  throw EOvinexError("Dimensions must be change with the NewImage method");
}

std::uint32_t TDibGraphic::GetRgbPixel(std::int32_t x, std::int32_t y) const {
  const std::uint32_t v = getPixel_(RowBits(y), x);
  if (imageKind_ == ikTrueColor) return v;
  const TPaletteEntry& e = logPalette_.palPalEntry[v & 0xFF];
  return (static_cast<std::uint32_t>(e.peRed) << 16) | (static_cast<std::uint32_t>(e.peGreen) << 8) | e.peBlue;
}

void TDibGraphic::SetRgbPixel(std::int32_t x, std::int32_t y, std::uint32_t color) {
  if (imageKind_ == ikTrueColor) {
    Set24(RowBits(y), x, color);
  } else {
    setPixel_(RowBits(y), x, converter_->ColorToIndex(color));
  }
}

std::uint8_t TDibGraphic::GetPixelIndex(std::int32_t x, std::int32_t y) const {
  if (imageKind_ == ikTrueColor) throw EOvinexError("The image does not have a palette");
  return static_cast<std::uint8_t>(getPixel_(RowBits(y), x));
}

void TDibGraphic::SetPixelIndex(std::int32_t x, std::int32_t y, std::uint32_t index) {
  if (imageKind_ == ikTrueColor) throw EOvinexError("The image does not have a palette");
  setPixel_(RowBits(y), x, index & 0xFF);
}

std::uint8_t TDibGraphic::ColorToIndex(std::uint32_t color) {
  return converter_ ? converter_->ColorToIndex(color) : 0;
}

void TDibGraphic::FillColor(std::uint32_t color) {
  if (Empty()) return;
  const std::int32_t w = Width();
  for (std::int32_t x = 0; x < w; ++x) SetRgbPixel(x, 0, color);
  const std::uint8_t* first = RowBits(0);
  for (std::int32_t y = 1; y < Height(); ++y) std::memcpy(RowBits(y), first, bytesPerRow_);
}

std::uint16_t TDibGraphic::DpiX() const { return PelsPerMeterToDpi(bitmapInfo_.bmiHeader.biXPelsPerMeter); }
std::uint16_t TDibGraphic::DpiY() const { return PelsPerMeterToDpi(bitmapInfo_.bmiHeader.biYPelsPerMeter); }
void TDibGraphic::SetDpiX(std::uint16_t dpi) { bitmapInfo_.bmiHeader.biXPelsPerMeter = DpiToPelsPerMeter(dpi); }
void TDibGraphic::SetDpiY(std::uint16_t dpi) { bitmapInfo_.bmiHeader.biYPelsPerMeter = DpiToPelsPerMeter(dpi); }

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
    SetEntry(palette, i, dib->Table[4 * i + 2], dib->Table[4 * i + 1], dib->Table[4 * i]);

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
    for (std::size_t i = 0; i < used; ++i) SetEntry(palette, i, colors[i].rgbRed, colors[i].rgbGreen, colors[i].rgbBlue);
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

void TDibGraphic::Assign(const TDibGraphic* source) {
  if (source == this) return;
  Release();
  if (!source || source->Width() <= 0 || source->Height() <= 0) return;
  NewImageForOverwrite(source->Width(), source->Height(), source->ImageKind(), &source->logPalette_,
                       source->DpiX(), source->DpiY());
  SetDpiX(source->DpiX());
  SetDpiY(source->DpiY());
  AnimationDelay = source->AnimationDelay;
  std::memcpy(pixels_, source->pixels_, ImageSize());
}

void TDibGraphic::AssignTo(TDibGraphic& target) const { target.Assign(this); }

void TDibGraphic::TakeImage(TDibGraphic& source) {
  if (&source == this) return;
  Release();
  if (source.Empty()) {
    source.Release();
    return;
  }
  buffer_ = std::move(source.buffer_);
  pixels_ = source.pixels_;
  imageKind_ = source.imageKind_;
  bitmapInfo_ = source.bitmapInfo_;
  logPalette_ = source.logPalette_;
  bytesPerRow_ = source.bytesPerRow_;
  getPixel_ = source.getPixel_;
  setPixel_ = source.setPixel_;
  AnimationDelay = source.AnimationDelay;
  // The converter and canvas refer to their image: this one gets its own.
  if (imageKind_ != ikTrueColor) converter_ = std::make_unique<TRgbToPaletteConverter>(&logPalette_);
  canvas_ = std::make_unique<TCanvas>(*this);
  source.Release();
}

TCanvas& TDibGraphic::Canvas() {
  if (!canvas_) throw Exception("Canvas does not allow drawing");
  return *canvas_;
}

std::uint32_t TDibGraphic::TransparentRgb() const {
  switch (TransparentPixel) {
    case tpTopLeft: return GetRgbPixel(0, 0);
    case tpTopRight: return GetRgbPixel(Width() - 1, 0);
    case tpBottomLeft: return GetRgbPixel(0, Height() - 1);
    case tpBottomRight: return GetRgbPixel(Width() - 1, Height() - 1);
    case tpCustom: return ColorToRgb(TransparentColor);
  }
  throw Exception("Invalid TransparentPixel");
}

void TDibGraphic::SelectFrame(int n) {
  if (n == currentFrame_) return;
  if (n < 1 || n > FrameCount()) throw EOvinexError("Frame " + std::to_string(n) + " does not exist");
  Assign(frames_[static_cast<std::size_t>(n - 1)].get());
  // A frame change lets pending window messages run once, as a redraw would.
  platform::ProcessMessages();
  currentFrame_ = n;
}

void TDibGraphic::LoadFromStream(TStream& stream) {
  const bool animate = Animate;
  Animate = false;
  struct Restore {
    bool& flag;
    bool value;
    ~Restore() { flag = value; }
  } restore{Animate, animate};

  if (MultiFrame) {
    const std::int64_t start = stream.Position();
    const int count = GetImageCount(stream);
    if (count == 1) {
      MultiFrame = false;
      stream.SetPosition(start);
    } else {
      frames_.clear();
      currentFrame_ = -1;
      for (int n = 1; n <= count; ++n) {
        std::unique_ptr<TDibGraphic> frame = CreateSame();
        stream.SetPosition(start);
        frame->LoadImage(stream, n);
        frames_.push_back(std::move(frame));
      }
      SelectFrame(1);
      return;
    }
  }
  LoadImage(stream, FrameIndex);
}

void TDibGraphic::SaveToFile(const std::string& fileName) {
  // The image goes to a temporary file that replaces the target only once it is complete and
  // on disk: a failed or killed save never leaves a truncated file that others take for a page.
  platform::TFileReplacement file(fileName);
  if (!file.Ok()) throw EFCreateError("Cannot create file \"" + fileName + "\". " + file.Error());
  {
    TFileStream stream(fileName, file.Handle(), TFileStream::TBorrowed{});
    try {
      SaveToStream(stream);
    } catch (...) {
      std::rethrow_exception(stream.NameWriteFailure(std::current_exception()));
    }
  }
  if (!file.Commit()) throw EFCreateError("Cannot create file \"" + fileName + "\". " + file.Error());
}

void TDibGraphic::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

}  // namespace lumipage
