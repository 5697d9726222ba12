#include "imaging/DibGraphic.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "imaging/Canvas.h"
#include "platform/ByteOrder.h"
#include "imaging/DefaultPalettes.h"
#include "imaging/FileStream.h"
#include "imaging/MemoryStream.h"
#include "platform/FileReplace.h"
#include "platform/Files.h"
#include "platform/LargeMemory.h"
#include "platform/Messages.h"

namespace lumipage {

namespace {

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
  return static_cast<std::uint32_t>(platform::LoadLE(p, 3));
}
void Set24(std::uint8_t* row, std::int32_t x, std::uint32_t v) {
  std::uint8_t* p = row + 3 * static_cast<std::ptrdiff_t>(x);
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
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

std::string ImageKindName(unsigned kind) {
  static const char* const kNames[] = {"Black and white", "16 shades of gray", "256 shades of gray",
                                       "16 color",        "256 color",         "True color"};
  return kind <= 5 ? kNames[kind] : "";
}

std::int32_t DpiToPelsPerMeter(std::uint16_t dpi) { return PelsPerMetreFromDpi(dpi); }

std::uint16_t PelsPerMeterToDpi(std::int32_t pelsPerMeter) {
  return static_cast<std::uint16_t>(DpiFromPelsPerMetre(pelsPerMeter));
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

void TDibGraphic::SaveToFile(const std::string& fileName, platform::TFlush flush, const TSaveCheck& check) {
  // The image goes to a temporary file that replaces the target only once it is complete and
  // on disk: a failed or killed save never leaves a truncated file that others take for a page.
  platform::TFileReplacement file(fileName);
  if (!file.Ok()) throw EFCreateError("Cannot create file \"" + fileName + "\". " + file.Error());
  {
    TFileStream stream(fileName, file.Handle(), TFileStream::TBorrowed{});
    if (flush != platform::TFlush::None) stream.StartWritebackEarly();
    try {
      SaveToStream(stream);
    } catch (...) {
      std::rethrow_exception(stream.NameWriteFailure(std::current_exception()));
    }
    if (check) check(stream, file.TemporaryName());
  }
  if (!file.Commit(flush)) throw EFCreateError("Cannot create file \"" + fileName + "\". " + file.Error());
}

void TDibGraphic::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

}  // namespace lumipage
