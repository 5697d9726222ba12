#include "imaging/BitmapGraphic.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/BmpReader.h"

namespace lumipage {

namespace {

void PutU32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

}  // namespace

std::unique_ptr<TDibGraphic> TBitmapGraphic::CreateSame() const { return std::make_unique<TBitmapGraphic>(); }

bool TBitmapGraphic::IsFormatOf(TStream& stream) {
  std::uint8_t sig[2] = {0, 0};
  const std::size_t n = stream.Read(sig, 2);
  stream.Seek(-static_cast<std::int64_t>(n), TSeekOrigin::soCurrent);
  return n == 2 && sig[0] == 'B' && sig[1] == 'M';
}

void TBitmapGraphic::LoadImage(TStream& stream, int) {
  ProgressStart();
  // File offsets count from the BMP's first byte, wherever the stream stands.
  const std::int64_t start = stream.Position();
  const std::int64_t total = stream.Size();
  if (start < 0 || total < start) throw EInvalidGraphic("Bitmap image is not valid: stream error");
  const auto size = static_cast<std::uint64_t>(total - start);
  std::vector<std::uint8_t> head(static_cast<std::size_t>(std::min<std::uint64_t>(size, TBmpReader::kMaxLayoutBytes)));
  stream.ReadBuffer(head.data(), head.size());
  const TBmpLayout layout = TBmpReader::ReadLayout(head.data(), head.size(), size);
  if (layout.Direct) {
    // Uncompressed bottom-up rows are already the image's rows: read them in place.
    NewImageFromBitmapHeader(layout.Header, layout.Colors);
    stream.SetPosition(start + static_cast<std::int64_t>(layout.PixelOffset));
    stream.ReadBuffer(Bits(), ImageSize());
  } else {
    stream.SetPosition(start);
    LoadFromBitmapHandle(TBmpReader::Read(stream));
  }
  SetDpiX(PelsPerMeterToDpi(layout.Header.biXPelsPerMeter));
  SetDpiY(PelsPerMeterToDpi(layout.Header.biYPelsPerMeter));
  ProgressEnd();
}

void TBitmapGraphic::SaveToStream(TStream& stream) {
  ProgressStart();
  if (Empty()) return;
  const std::uint32_t paletteBytes =
      ImageKind() == ikTrueColor ? 0 : 4 * static_cast<std::uint32_t>(LogPalette().palNumEntries);
  std::uint8_t fileHeader[14] = {'B', 'M'};
  PutU32(fileHeader + 2, static_cast<std::uint32_t>(54 + paletteBytes + ImageSize()));
  PutU32(fileHeader + 10, 54 + paletteBytes);
  stream.WriteBuffer(fileHeader, sizeof fileHeader);
  Progress(5, 0, 100);
  stream.WriteBuffer(&BitmapInfo().bmiHeader, sizeof(TBitmapInfoHeader));
  Progress(10, 0, 100);
  if (paletteBytes > 0) stream.WriteBuffer(BitmapInfo().bmiColors.data(), paletteBytes);
  // The pixel memory is already in file order: bottom row first, rows padded to 4 bytes.
  stream.WriteBuffer(Bits(), ImageSize());
  ProgressEnd();
}

}  // namespace lumipage
