#pragma once
// TDibGraphic: the in-memory raster image. A device-independent bitmap of one of six kinds,
// with its palette, resolution and a drawing canvas on its own pixels. Pixel colours at this
// interface are 0x00RRGGBB; rows are numbered from the top, stored bottom-up and padded to
// 4 bytes, exactly as in a packed DIB or a BMP file. File classes (BMP, JPEG, TIFF) derive
// from it and fill in the file contract: IsFormatOf, GetImageCount, LoadImage,
// AppendToStream, SaveToStream and, where needed, NewImage.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imaging/DefaultPalettes.h"
#include "imaging/DibTypes.h"
#include "platform/FileReplace.h"
#include "imaging/Errors.h"
#include "imaging/ImageFileFormats.h"
#include "imaging/Progress.h"
#include "imaging/RgbToPaletteConverter.h"
#include "imaging/Stream.h"
#include "platform/GlobalMemory.h"

namespace lumipage {

class TCanvas;

// Largest width or height an image may have, and the largest pixel buffer, so that a header's
// word never makes us allocate gigabytes.
constexpr std::int32_t kMaxImageDimension = 65535;
constexpr std::uint64_t kMaxImageBytes = std::uint64_t{1} << 30;

// Bits per pixel of a kind; EOvinexError "Internal error: Invalid image format" above 5.
[[nodiscard]] unsigned BitsPerPixelOf(TImageKind kind);
// Display text of a kind ("Black and white", ...); empty for codes above 5.
[[nodiscard]] std::string ImageKindName(unsigned kind);

// Pixels per metre <-> dots per inch by the packed-DIB module's rule; the dpi is taken as a
// 16-bit quantity, as the header field is read.
[[nodiscard]] std::int32_t DpiToPelsPerMeter(std::uint16_t dpi);
[[nodiscard]] std::uint16_t PelsPerMeterToDpi(std::int32_t pelsPerMeter);
// The screen resolution used where a resolution of 0 is given.
constexpr std::uint16_t kScreenDpi = 96;

// The decoded bitmap the BMP reader produces (and LoadFromBitmapHandle imports): a 40-byte
// header, its colour table and bottom-up rows padded to 4 bytes, 1, 4, 8 or 24 bits per pixel.
struct TDecodedBitmap {
  TBitmapInfoHeader Header;
  std::vector<TRgbQuad> Colors;
  std::vector<std::uint8_t> Bits;
};

enum TTransparentPixel : std::uint8_t {
  tpTopLeft = 0,
  tpTopRight = 1,
  tpBottomLeft = 2,
  tpBottomRight = 3,
  tpCustom = 4,
};

class TDibGraphic {
 public:
  using TAfterDrawEvent = std::function<void(TDibGraphic& image)>;

  TDibGraphic();
  TDibGraphic(const TDibGraphic&) = delete;
  TDibGraphic& operator=(const TDibGraphic&) = delete;
  virtual ~TDibGraphic();

  // Class name used in messages ("TDibGraphic", "TBitmapGraphic", ...).
  [[nodiscard]] virtual const char* ClassName() const { return "TDibGraphic"; }
  // A new, empty image of the same class (frames of a multi-image stream).
  [[nodiscard]] virtual std::unique_ptr<TDibGraphic> CreateSame() const;

  // --- File contract ---------------------------------------------------------------------
  // True when the stream starts with the class's signature; the position is unchanged.
  [[nodiscard]] virtual bool IsFormatOf(TStream& stream);
  // Number of images in the stream.
  [[nodiscard]] virtual int GetImageCount(TStream& stream);
  // Loads image number n (1-based) from the stream's position.
  virtual void LoadImage(TStream& stream, int n);
  // Adds this image as a further image of the file in stream. Base: EOvinexError
  // "The <class> format does not support multiple images".
  virtual void AppendToStream(TStream& stream);
  // Replaces the image with a new pixel buffer of the kind, all bits 0. palette null: the
  // kind's default. dpi 0: the screen resolution. On failure the image is left empty.
  virtual void NewImage(std::int32_t width, std::int32_t height, TImageKind kind,
                        const TLogPalette* palette, std::uint16_t dpiX, std::uint16_t dpiY);
  // NewImage for a caller that writes every pixel right afterwards: the pixel bytes are left
  // as allocated (the bits after the last pixel of each row are still cleared), which saves a
  // pass over a large page. Goes through the virtual NewImage.
  void NewImageForOverwrite(std::int32_t width, std::int32_t height, TImageKind kind,
                            const TLogPalette* palette, std::uint16_t dpiX, std::uint16_t dpiY);

  // Writes the image in the class's file format at the stream's position. Base: nothing.
  virtual void SaveToStream(TStream& stream);
  // Loads (all frames when MultiFrame is set, else image FrameIndex) from the stream.
  virtual void LoadFromStream(TStream& stream);
  // Creates (replaces) the file and saves into it, through a temporary file flushed to disk as
  // flush says. check, when given, looks at the written file before it replaces the target
  // (given the stream on it and the temporary file's name); raising keeps the target as it was.
  using TSaveCheck = std::function<void(TStream& written, const std::string& temporaryName)>;
  void SaveToFile(const std::string& fileName, platform::TFlush flush = platform::TFlush::FileAndFolder,
                  const TSaveCheck& check = {});
  void LoadFromFile(const std::string& fileName);

  // --- Shape ------------------------------------------------------------------------------
  [[nodiscard]] bool Empty() const { return pixels_ == nullptr; }
  [[nodiscard]] std::int32_t Width() const { return bitmapInfo_.bmiHeader.biWidth; }
  [[nodiscard]] std::int32_t Height() const { return bitmapInfo_.bmiHeader.biHeight; }
  // Always EOvinexError "Dimensions must be change with the NewImage method".
  void SetWidth(std::int32_t value);
  void SetHeight(std::int32_t value);
  [[nodiscard]] TImageKind ImageKind() const { return imageKind_; }
  [[nodiscard]] std::uint32_t BytesPerRow() const { return bytesPerRow_; }
  // Height * BytesPerRow.
  [[nodiscard]] std::size_t ImageSize() const { return bitmapInfo_.bmiHeader.biSizeImage; }
  [[nodiscard]] const TBitmapInfo& BitmapInfo() const { return bitmapInfo_; }
  [[nodiscard]] const TLogPalette& LogPalette() const { return logPalette_; }

  // Start of the pixel memory (the bottom row); null when empty.
  [[nodiscard]] std::uint8_t* Bits() { return pixels_; }
  [[nodiscard]] const std::uint8_t* Bits() const { return pixels_; }
  // Start of row y counted from the top.
  [[nodiscard]] std::uint8_t* RowBits(std::int32_t y) {
    return pixels_ + static_cast<std::size_t>(Height() - y - 1) * bytesPerRow_;
  }
  [[nodiscard]] const std::uint8_t* RowBits(std::int32_t y) const {
    return pixels_ + static_cast<std::size_t>(Height() - y - 1) * bytesPerRow_;
  }

  // --- Pixels (coordinates are not checked: callers stay inside the image) -----------------
  [[nodiscard]] std::uint32_t GetRgbPixel(std::int32_t x, std::int32_t y) const;
  void SetRgbPixel(std::int32_t x, std::int32_t y, std::uint32_t color);
  // Palette kinds only; EOvinexError "The image does not have a palette" for true colour.
  [[nodiscard]] std::uint8_t GetPixelIndex(std::int32_t x, std::int32_t y) const;
  void SetPixelIndex(std::int32_t x, std::int32_t y, std::uint32_t index);
  // Nearest palette index of a colour (palette kinds; 0 for true colour).
  [[nodiscard]] std::uint8_t ColorToIndex(std::uint32_t color);
  void FillColor(std::uint32_t color);

  // --- Resolution ----------------------------------------------------------------------------
  [[nodiscard]] std::uint16_t DpiX() const;
  [[nodiscard]] std::uint16_t DpiY() const;
  void SetDpiX(std::uint16_t dpi);
  void SetDpiY(std::uint16_t dpi);

  // --- Packed DIBs and decoded bitmaps -----------------------------------------------------------
  // Adopts a copy of a packed DIB (the caller keeps and frees the handle).
  void LoadFromDibHandle(platform::HGLOBAL handle);
  // LoadFromDibHandle for a block that is no longer needed: when it holds plain bottom-up rows
  // (1, 4, 8 or 24 bits, uncompressed) and is not locked, the image keeps the block's memory
  // instead of copying it, and the block's owner is emptied at that moment (the block no longer
  // exists). Otherwise the rows are copied and the owner keeps the block. Whether the block was
  // taken is returned.
  bool TakeDibHandle(platform::GlobalBlock& block);
  // Imports a decoded bitmap (16 and 32 bits become 24).
  void LoadFromBitmapHandle(const TDecodedBitmap& bitmap);
  // A packed DIB copy owned by the caller; null for an empty image.
  [[nodiscard]] platform::HGLOBAL SaveToDibHandle() const;

  // --- Assignment --------------------------------------------------------------------------------
  // Copies source (null or empty: this image becomes empty).
  virtual void Assign(const TDibGraphic* source);
  // Assigns this image to target.
  virtual void AssignTo(TDibGraphic& target) const;
  // Takes over source's pixels, kind, palette and resolution without copying them; source is
  // left empty. Settings of this image's own class stay as they are.
  void TakeImage(TDibGraphic& source);

  // --- Drawing -------------------------------------------------------------------------------------
  // The drawing surface on this image's pixels; Exception "Canvas does not allow drawing" when
  // the image is empty.
  [[nodiscard]] TCanvas& Canvas();
  // The colour treated as transparent (0x00RRGGBB), by TransparentPixel; Exception
  // "Invalid TransparentPixel" for a value above 4.
  [[nodiscard]] std::uint32_t TransparentRgb() const;
  TTransparentPixel TransparentPixel = tpBottomLeft;
  TColor TransparentColor = clWhite;

  // --- Frames ------------------------------------------------------------------------------------
  [[nodiscard]] int FrameCount() const { return static_cast<int>(frames_.size()); }
  // Assigns frame n (1-based); EOvinexError "Frame %d does not exist" outside 1..FrameCount.
  void SelectFrame(int n);
  [[nodiscard]] int CurrentFrame() const { return currentFrame_; }
  int FrameIndex = 1;
  bool MultiFrame = false;
  std::uint32_t AnimationDelay = 200;
  // Animation needs a platform timer; here the flag is only kept.
  bool Animate = false;

  // --- Callbacks -----------------------------------------------------------------------------------
  TProgressEvent ProgressCallback;
  TAfterDrawEvent AfterDraw;

 protected:
  // Reports progress through ProgressCallback (the progress convention), keeping the last value.
  void Progress(std::int64_t current, std::int64_t minimum, std::int64_t maximum);
  void ProgressStart() { lastProgress_ = kNoProgress; Progress(0, 0, 100); }
  void ProgressEnd() { Progress(100, 0, 100); }
  // Frees the pixel buffer, canvas and converter; zeroes the bitmap info.
  void Release();
  // The image a decoded bitmap's header describes (kind from the bit count, palette from the
  // colour table, resolution from the header), its pixels left for the caller to fill.
  // EOvinexError "Unsupported bit count" for depths other than 1, 4, 8, 24.
  void NewImageFromBitmapHeader(const TBitmapInfoHeader& header, const std::vector<TRgbQuad>& colors);

 private:
  using GetPixelFn = std::uint32_t (*)(const std::uint8_t* row, std::int32_t x);
  using SetPixelFn = void (*)(std::uint8_t* row, std::int32_t x, std::uint32_t value);

  // With an owner, the block is taken when it can be (TakeDibHandle).
  bool LoadFromDib(platform::HGLOBAL handle, platform::GlobalBlock* owner);

  platform::DetachedMemory buffer_;
  std::uint8_t* pixels_ = nullptr;
  // Memory handed to the next NewImage in place of a new buffer (a taken DIB block).
  struct Adopted {
    platform::DetachedMemory memory;
    std::uint8_t* pixels = nullptr;
    std::size_t bytes = 0;
  } adopted_;
  TImageKind imageKind_ = ikBlackWhite;
  TBitmapInfo bitmapInfo_{};
  TLogPalette logPalette_{};
  std::uint32_t bytesPerRow_ = 0;
  std::unique_ptr<TCanvas> canvas_;
  std::vector<std::unique_ptr<TDibGraphic>> frames_;
  int currentFrame_ = -1;
  GetPixelFn getPixel_ = nullptr;
  SetPixelFn setPixel_ = nullptr;
  std::unique_ptr<TRgbToPaletteConverter> converter_;
  std::uint8_t lastProgress_ = kNoProgress;
  bool overwrite_ = false;
};

}  // namespace lumipage
