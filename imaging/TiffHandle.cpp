#include "imaging/TiffHandle.h"

#include <tiffio.h>

#include <fcntl.h>

#include <cstdarg>
#include <cstdio>
#include <limits>

#include "imaging/TiffError.h"
#include "imaging/TiffUserTags.h"
#include "imaging/TiffLibrary.h"

namespace lumipage {

struct TTiffHandle::Io {
  TStream* stream;
  std::int64_t base;
};

namespace {

TTiffHandle::Io& IoOf(thandle_t h) { return *static_cast<TTiffHandle::Io*>(h); }

constexpr toff_t kSeekFailed = static_cast<toff_t>(-1);

// The procedures run inside libtiff's C code: nothing may escape from them.
tmsize_t ReadProc(thandle_t h, void* buffer, tmsize_t size) {
  if (size < 0) return -1;
  try {
    return static_cast<tmsize_t>(IoOf(h).stream->Read(buffer, static_cast<std::size_t>(size)));
  } catch (...) {
    return -1;
  }
}

tmsize_t WriteProc(thandle_t h, void* buffer, tmsize_t size) {
  if (size < 0) return -1;
  try {
    return static_cast<tmsize_t>(IoOf(h).stream->Write(buffer, static_cast<std::size_t>(size)));
  } catch (...) {
    return -1;
  }
}

toff_t SeekProc(thandle_t h, toff_t offset, int whence) {
  auto& io = IoOf(h);
  // libtiff passes relative offsets as two's complement in the unsigned type.
  const auto signedOffset = static_cast<std::int64_t>(offset);
  try {
    std::int64_t result = -1;
    switch (whence) {
      case SEEK_SET:
        if (signedOffset < 0 || signedOffset > std::numeric_limits<std::int64_t>::max() - io.base)
          return kSeekFailed;
        result = io.stream->Seek(io.base + signedOffset, TSeekOrigin::soBeginning);
        break;
      case SEEK_CUR:
        result = io.stream->Seek(signedOffset, TSeekOrigin::soCurrent);
        break;
      case SEEK_END:
        result = io.stream->Seek(signedOffset, TSeekOrigin::soEnd);
        break;
      default:
        return kSeekFailed;
    }
    if (result < io.base) return kSeekFailed;
    return static_cast<toff_t>(result - io.base);
  } catch (...) {
    return kSeekFailed;
  }
}

int CloseProc(thandle_t) { return 0; }  // the stream belongs to the caller

toff_t SizeProc(thandle_t h) {
  auto& io = IoOf(h);
  try {
    const std::int64_t size = io.stream->Size();
    return size > io.base ? static_cast<toff_t>(size - io.base) : 0;
  } catch (...) {
    return 0;
  }
}

// Refusing the mapping makes libtiff read through ReadProc/SeekProc.
int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

// libtiff's messages are not shown to anyone: failures surface through the return values of
// the calls. Returning 1 stops libtiff from passing the message on to its global handlers.
int SilentHandler(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct OptionsDeleter {
  void operator()(TIFFOpenOptions* o) const { Tiff().OpenOptionsFree(o); }
};

}  // namespace

TTiffHandle::TTiffHandle(TStream& stream, const char* mode, std::int64_t base)
    : io_(std::make_unique<Io>(Io{&stream, base})) {
  InstallTiffUserTags();
  std::unique_ptr<TIFFOpenOptions, OptionsDeleter> options(Tiff().OpenOptionsAlloc());
  if (!options) throw ETiffError("TIFFOpen");
  Tiff().OpenOptionsSetMaxSingleMemAlloc(options.get(), static_cast<tmsize_t>(kTiffMaxSingleAlloc));
  Tiff().OpenOptionsSetErrorHandlerExtR(options.get(), SilentHandler, nullptr);
  Tiff().OpenOptionsSetWarningHandlerExtR(options.get(), SilentHandler, nullptr);
  // "m": no memory mapping; the stream is not a file descriptor.
  std::string fullMode = std::string(mode) + "m";
  tif_ = Tiff().ClientOpenExt("", fullMode.c_str(), io_.get(), ReadProc, WriteProc, SeekProc,
                           CloseProc, SizeProc, MapProc, UnmapProc, options.get());
  if (tif_ == nullptr) throw ETiffError("TIFFOpen");
}

TTiffHandle::~TTiffHandle() {
  if (tif_ != nullptr) Tiff().Close(tif_);
}

void TTiffHandle::Close() {
  if (tif_ == nullptr) return;
  const bool writing = Tiff().GetMode(tif_) != O_RDONLY;
  const int flushed = writing ? Tiff().Flush(tif_) : 1;
  Tiff().Close(tif_);
  tif_ = nullptr;
  if (flushed == 0) throw ETiffError("TIFFWriteDirectory");
}

}  // namespace lumipage
