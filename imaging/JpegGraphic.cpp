#include "imaging/JpegGraphic.h"

namespace lumipage {

TJpegGraphic::TJpegGraphic() = default;

std::unique_ptr<TDibGraphic> TJpegGraphic::CreateSame() const { return std::make_unique<TJpegGraphic>(); }

bool TJpegGraphic::IsFormatOf(TStream&) { return false; }
void TJpegGraphic::LoadImage(TStream&, int) { throw Exception("JPEG reading not available yet"); }
void TJpegGraphic::SaveToStream(TStream&) { throw Exception("JPEG writing not available yet"); }

}  // namespace lumipage
