#include "imaging/PackedDib.h"
#include "imaging/JpegGraphic.h"

// libjpeg reports fatal errors by calling error_exit, which must not return. Ours longjmps back
// into CallCodec below; that is the only setjmp in the library, and no C++ object with a
// destructor is alive in the frames it skips (the codec's own frames and the small lambdas
// passed to CallCodec). The C++ exception is raised after the jump, in CallCodec's frame.
#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "imaging/ImageFileFormats.h"
#include "imaging/JpegPlanes.h"
#include "platform/SpareCore.h"

namespace lumipage {

namespace {

// Bytes per read or write of the file stream: large enough that system calls do not count.
constexpr std::size_t kStreamBufferSize = 64 * 1024;
// Rows handed to the codec per call.
constexpr int kRowBatch = 16;
// Memory the decoder may use for its own buffers (whole-image coefficient arrays of
// progressive files), so that a hostile header cannot make it allocate without limit.
constexpr long kMaxCodecMemory = 512L * 1024 * 1024;

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

extern "C" void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

// Warnings are counted (the codec does that in num_warnings); trace messages are dropped.
extern "C" void EmitMessage(j_common_ptr cinfo, int level) {
  if (level < 0) ++cinfo->err->num_warnings;
}

extern "C" void OutputMessage(j_common_ptr) {}

void InitErrorManager(ErrorManager& err) {
  jpeg_std_error(&err.pub);
  err.pub.error_exit = ErrorExit;
  err.pub.emit_message = EmitMessage;
  err.pub.output_message = OutputMessage;
  err.message[0] = '\0';
}

// Runs one codec call; a codec error becomes Exception with the codec's own message text.
template <class F>
void CallCodec(ErrorManager& err, F&& call) {
  if (setjmp(err.jump) != 0) throw Exception(err.message);
  call();
}

// --- Stream adapters ---------------------------------------------------------------------------

struct StreamSource {
  jpeg_source_mgr pub;
  TStream* stream;
  std::array<JOCTET, kStreamBufferSize> buffer;
  bool startOfFile;
};

extern "C" void SourceInit(j_decompress_ptr cinfo) {
  reinterpret_cast<StreamSource*>(cinfo->src)->startOfFile = true;
}

extern "C" boolean SourceFill(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<StreamSource*>(cinfo->src);
  std::size_t n = 0;
  try {
    n = src->stream->Read(src->buffer.data(), src->buffer.size());
  } catch (...) {
    n = 0;
  }
  if (n == 0) {
    if (src->startOfFile) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    // Premature end: warn and insert a fake end-of-image marker, as the codec's file source does.
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->buffer[0] = 0xFF;
    src->buffer[1] = JPEG_EOI;
    n = 2;
  }
  src->pub.next_input_byte = src->buffer.data();
  src->pub.bytes_in_buffer = n;
  src->startOfFile = false;
  return TRUE;
}

extern "C" void SourceSkip(j_decompress_ptr cinfo, long count) {
  auto* src = reinterpret_cast<StreamSource*>(cinfo->src);
  if (count <= 0) return;
  while (count > static_cast<long>(src->pub.bytes_in_buffer)) {
    count -= static_cast<long>(src->pub.bytes_in_buffer);
    SourceFill(cinfo);
  }
  src->pub.next_input_byte += count;
  src->pub.bytes_in_buffer -= static_cast<std::size_t>(count);
}

extern "C" void SourceTerm(j_decompress_ptr) {}

struct StreamDestination {
  jpeg_destination_mgr pub;
  TStream* stream;
  std::array<JOCTET, kStreamBufferSize> buffer;
};

bool WriteOut(StreamDestination* dest, std::size_t count) {
  try {
    return dest->stream->Write(dest->buffer.data(), count) == count;
  } catch (...) {
    return false;
  }
}

extern "C" void DestinationInit(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<StreamDestination*>(cinfo->dest);
  dest->pub.next_output_byte = dest->buffer.data();
  dest->pub.free_in_buffer = dest->buffer.size();
}

extern "C" boolean DestinationEmpty(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<StreamDestination*>(cinfo->dest);
  if (!WriteOut(dest, dest->buffer.size())) ERREXIT(cinfo, JERR_FILE_WRITE);
  dest->pub.next_output_byte = dest->buffer.data();
  dest->pub.free_in_buffer = dest->buffer.size();
  return TRUE;
}

extern "C" void DestinationTerm(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<StreamDestination*>(cinfo->dest);
  const std::size_t count = dest->buffer.size() - dest->pub.free_in_buffer;
  if (count > 0 && !WriteOut(dest, count)) ERREXIT(cinfo, JERR_FILE_WRITE);
}

// --- Codec contexts, destroyed on every path --------------------------------------------------

struct Decompressor {
  ErrorManager err;
  jpeg_decompress_struct cinfo;
  StreamSource source;
  explicit Decompressor(TStream& stream) {
    InitErrorManager(err);
    cinfo.err = &err.pub;
    CallCodec(err, [&] { jpeg_create_decompress(&cinfo); });
    cinfo.mem->max_memory_to_use = kMaxCodecMemory;
    source.pub.init_source = SourceInit;
    source.pub.fill_input_buffer = SourceFill;
    source.pub.skip_input_data = SourceSkip;
    source.pub.resync_to_restart = jpeg_resync_to_restart;
    source.pub.term_source = SourceTerm;
    source.pub.bytes_in_buffer = 0;
    source.pub.next_input_byte = nullptr;
    source.stream = &stream;
    source.startOfFile = true;
    cinfo.src = &source.pub;
  }
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;
  ~Decompressor() { jpeg_destroy_decompress(&cinfo); }
};

struct Compressor {
  ErrorManager err;
  jpeg_compress_struct cinfo;
  StreamDestination destination;
  explicit Compressor(TStream& stream) {
    InitErrorManager(err);
    cinfo.err = &err.pub;
    CallCodec(err, [&] { jpeg_create_compress(&cinfo); });
    destination.pub.init_destination = DestinationInit;
    destination.pub.empty_output_buffer = DestinationEmpty;
    destination.pub.term_destination = DestinationTerm;
    destination.stream = &stream;
    cinfo.dest = &destination.pub;
  }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;
  ~Compressor() { jpeg_destroy_compress(&cinfo); }
};

// Rows of blocks the sampling thread may be ahead of the coding thread. Once it has filled them
// all it sleeps until half are free again: waking it for each one would cost a wake-up (tens of
// microseconds) per row of blocks, and it would fall behind.
constexpr std::int32_t kPlaneSlots = 16;
constexpr std::int32_t kPlaneWakeEvery = kPlaneSlots / 2;

// Whether the codec, set up, takes the samples TJpegPlanes makes: colour at 2 x 2 sampling
// without its optional filters.
bool TakesJpegPlanes(const jpeg_compress_struct& cinfo) {
  if (cinfo.jpeg_color_space != JCS_YCbCr || cinfo.num_components != 3 || cinfo.CCIR601_sampling ||
      cinfo.smoothing_factor != 0)
    return false;
  const jpeg_component_info* c = cinfo.comp_info;
  return c[0].h_samp_factor == 2 && c[0].v_samp_factor == 2 && c[1].h_samp_factor == 1 && c[1].v_samp_factor == 1 &&
         c[2].h_samp_factor == 1 && c[2].v_samp_factor == 1;
}

// Codes the image's blue, green, red rows on this thread from samples that a helper makes a
// few rows of blocks ahead. rowsDone(first, count) follows each row of blocks; an exception from
// it or from the codec stops the helper before this returns.
template <class RowsDone>
void WritePlanesTwoThreads(Compressor& c, const TDibGraphic& image, RowsDone&& rowsDone) {
  const std::int32_t height = image.Height();
  std::vector<TJpegPlanes> slots(kPlaneSlots, TJpegPlanes(image.Width(), height));
  const std::int32_t groups = slots.front().Groups();
  std::atomic<std::int32_t> filled{0};
  std::atomic<std::int32_t> coded{0};
  std::atomic<bool> stop{false};
  std::jthread helper([&] {
    for (std::int32_t g = 0; g < groups; ++g) {
      for (std::int32_t done = coded.load(); g - done >= kPlaneSlots; done = coded.load()) coded.wait(done);
      if (stop.load()) return;
      slots[static_cast<std::size_t>(g % kPlaneSlots)].Fill(g, image);
      filled.store(g + 1);
      filled.notify_one();
    }
  });
  struct StopOnLeave {
    std::atomic<bool>& stop;
    std::atomic<std::int32_t>& coded;
    std::jthread& helper;
    ~StopOnLeave() {
      stop.store(true);
      coded.store(std::numeric_limits<std::int32_t>::max() / 2);  // wakes a helper waiting for room
      coded.notify_one();
      helper.join();
    }
  } stopOnLeave{stop, coded, helper};
  std::array<JSAMPROW, kJpegGroupRows> luma{};
  std::array<JSAMPROW, kJpegGroupRows / 2> blue{}, red{};
  std::array<JSAMPARRAY, 3> planes{luma.data(), blue.data(), red.data()};
  for (std::int32_t g = 0; g < groups; ++g) {
    for (std::int32_t ready = filled.load(); ready <= g; ready = filled.load()) filled.wait(ready);
    TJpegPlanes& slot = slots[static_cast<std::size_t>(g % kPlaneSlots)];
    for (std::int32_t i = 0; i < kJpegGroupRows; ++i) luma[static_cast<std::size_t>(i)] = slot.Luma(i);
    for (std::int32_t i = 0; i < kJpegGroupRows / 2; ++i) {
      blue[static_cast<std::size_t>(i)] = slot.Blue(i);
      red[static_cast<std::size_t>(i)] = slot.Red(i);
    }
    CallCodec(c.err, [&] { jpeg_write_raw_data(&c.cinfo, planes.data(), kJpegGroupRows); });
    coded.store(g + 1);
    // A full ring ahead of this thread always reaches the next multiple, so the helper is woken.
    if ((g + 1) % kPlaneWakeEvery == 0) coded.notify_one();
    const std::int32_t first = g * kJpegGroupRows;
    rowsDone(first, std::min(kJpegGroupRows, height - first));
  }
}

void SwapRedBlue(std::uint8_t* row, std::size_t pixels) {
  for (std::size_t i = 0; i < pixels; ++i) std::swap(row[3 * i], row[3 * i + 2]);
}

std::uint16_t DensityToDpi(std::uint8_t unit, std::uint16_t density) {
  if (unit == 1) return density;
  if (unit == 2) return static_cast<std::uint16_t>(static_cast<long>(std::nearbyint(DpiOfDotsPerCm(density))));
  return 0;
}

std::unique_ptr<TDibGraphic> NewJpeg() { return std::make_unique<TJpegGraphic>(); }

[[maybe_unused]] const bool kRegistered = [] {
  RegisterImageFileFormat("JPG", "JPEG", NewJpeg);
  RegisterImageFileFormat("JPEG", "JPEG", NewJpeg);
  return true;
}();

}  // namespace

TJpegGraphic::TJpegGraphic() = default;

std::unique_ptr<TDibGraphic> TJpegGraphic::CreateSame() const { return std::make_unique<TJpegGraphic>(); }

bool TJpegGraphic::IsFormatOf(TStream& stream) {
  std::uint8_t head[20] = {};
  const std::size_t n = stream.Read(head, sizeof head);
  stream.Seek(-static_cast<std::int64_t>(n), TSeekOrigin::soCurrent);
  return n >= 11 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF && head[3] == 0xE0 &&
         std::memcmp(head + 6, "JFIF", 5) == 0;
}

void TJpegGraphic::LoadImage(TStream& stream, int) {
  ProgressStart();
  Decompressor d(stream);
  jpeg_decompress_struct& cinfo = d.cinfo;
  CallCodec(d.err, [&] { jpeg_read_header(&cinfo, TRUE); });
  const bool gray = cinfo.jpeg_color_space == JCS_GRAYSCALE;
  // The codec can write blue, green, red itself: rows go straight into the image.
  const bool direct = UseFastPaths;
  cinfo.out_color_space = gray ? JCS_GRAYSCALE : (direct ? JCS_EXT_BGR : JCS_RGB);
  // Refuse before the codec allocates for a header's absurd size.
  const std::uint64_t samples = static_cast<std::uint64_t>(cinfo.image_width) * cinfo.image_height * (gray ? 1 : 3);
  if (cinfo.image_width > static_cast<JDIMENSION>(kMaxImageDimension) ||
      cinfo.image_height > static_cast<JDIMENSION>(kMaxImageDimension) || samples > kMaxImageBytes)
    throw EOutOfResources("Out of resources");
  CallCodec(d.err, [&] { jpeg_start_decompress(&cinfo); });
  TImageKind kind;
  if (cinfo.output_components == 1) {
    kind = ikGray256;
  } else if (cinfo.output_components == 3) {
    kind = ikTrueColor;
  } else {
    throw EJpegError("Invalid number of samples, " + std::to_string(cinfo.output_components));
  }
  NewImage(static_cast<std::int32_t>(cinfo.output_width), static_cast<std::int32_t>(cinfo.output_height), kind,
           nullptr, DensityToDpi(cinfo.density_unit, cinfo.X_density),
           DensityToDpi(cinfo.density_unit, cinfo.Y_density));
  const std::int32_t height = Height();
  const std::size_t width = static_cast<std::size_t>(Width());
  std::array<JSAMPROW, kRowBatch> rows{};
  while (cinfo.output_scanline < cinfo.output_height) {
    const auto first = static_cast<std::int32_t>(cinfo.output_scanline);
    const int batch = std::min<int>(kRowBatch, height - first);
    for (int k = 0; k < batch; ++k) rows[static_cast<std::size_t>(k)] = RowBits(first + k);
    JDIMENSION got = 0;
    CallCodec(d.err, [&] { got = jpeg_read_scanlines(&cinfo, rows.data(), static_cast<JDIMENSION>(batch)); });
    if (got == 0) break;  // suspension cannot happen with our source; guard against a stall
    for (JDIMENSION k = 0; k < got; ++k) Progress(first + static_cast<std::int32_t>(k), 0, height - 1);
    if (kind == ikTrueColor && !direct)
      for (JDIMENSION k = 0; k < got; ++k) SwapRedBlue(rows[k], width);
  }
  CallCodec(d.err, [&] { jpeg_finish_decompress(&cinfo); });
  warnings_ = d.err.pub.num_warnings;
  ProgressEnd();
}

void TJpegGraphic::SaveToStream(TStream& stream) {
  ProgressStart();
  int components = 0;
  if (ImageKind() == ikGray256 && !Empty()) components = 1;
  if (ImageKind() == ikTrueColor && !Empty()) components = 3;
  if (components == 0) throw EJpegError("JPEG image must be gray scale or true color");
  const bool direct = UseFastPaths;
  const std::size_t rowBytes = static_cast<std::size_t>(Width()) * static_cast<std::size_t>(components);
  std::vector<std::uint8_t> buffer(direct ? 0 : rowBytes);
  Compressor c(stream);
  jpeg_compress_struct& cinfo = c.cinfo;
  cinfo.image_width = static_cast<JDIMENSION>(Width());
  cinfo.image_height = static_cast<JDIMENSION>(Height());
  cinfo.input_components = components;
  // Blue, green, red input gives the same samples as swapping to red, green, blue first.
  cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : (direct ? JCS_EXT_BGR : JCS_RGB);
  const std::uint16_t dpiX = DpiX();
  const std::uint16_t dpiY = DpiY();
  const int quality = Quality;
  const bool twoThreads =
      direct && components == 3 &&
      (Threads == TThreads::Two ||
       (Threads == TThreads::Auto && platform::TwoThreadsPay(static_cast<std::int64_t>(Width()) * Height())));
  bool planes = false;
  CallCodec(c.err, [&] {
    jpeg_set_defaults(&cinfo);
    cinfo.density_unit = 1;
    cinfo.X_density = dpiX;
    cinfo.Y_density = dpiY;
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (Progressive) jpeg_simple_progression(&cinfo);
    if (OptimizeCoding) cinfo.optimize_coding = TRUE;
    planes = twoThreads && TakesJpegPlanes(cinfo);
    cinfo.raw_data_in = planes ? TRUE : FALSE;
    jpeg_start_compress(&cinfo, TRUE);
  });
  const std::int32_t height = Height();
  if (planes) {
    WritePlanesTwoThreads(c, *this, [&](std::int32_t first, std::int32_t count) {
      for (std::int32_t k = 0; k < count; ++k) Progress(first + k, 0, height - 1);
    });
    CallCodec(c.err, [&] { jpeg_finish_compress(&cinfo); });
    warnings_ = c.err.pub.num_warnings;
    ProgressEnd();
    return;
  }
  std::array<JSAMPROW, kRowBatch> rows{};
  for (std::int32_t y = 0; y < height;) {
    int batch = 1;
    if (direct) {
      batch = std::min<int>(kRowBatch, height - y);
      for (int k = 0; k < batch; ++k) rows[static_cast<std::size_t>(k)] = RowBits(y + k);
    } else {
      std::memcpy(buffer.data(), RowBits(y), rowBytes);
      if (components == 3) SwapRedBlue(buffer.data(), static_cast<std::size_t>(Width()));
      rows[0] = buffer.data();
    }
    for (int k = 0; k < batch; ++k) Progress(y + k, 0, height - 1);
    CallCodec(c.err, [&] { jpeg_write_scanlines(&cinfo, rows.data(), static_cast<JDIMENSION>(batch)); });
    y += batch;
  }
  CallCodec(c.err, [&] { jpeg_finish_compress(&cinfo); });
  warnings_ = c.err.pub.num_warnings;
  ProgressEnd();
}

}  // namespace lumipage
