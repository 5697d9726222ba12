#pragma once
// Stream codecs. None reports an error: a failure gives an empty or partial result.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "pdf/PDFLimits.h"

namespace lumipage {

// zlib format at the default level; empty input or any zlib failure gives empty output.
[[nodiscard]] std::string FlateEncode(std::string_view bytes);
// zlib inflate; corrupt or truncated data gives what was decoded before the fault. Decoding
// stops at maxOutput bytes. intact (when given) tells whether the data decoded to its end.
[[nodiscard]] std::string FlateDecode(std::string_view bytes, size_t maxOutput = kMaxDecodedSize,
                                      bool* intact = nullptr);
// FlateDecode, then TIFF predictor 2 or the PNG predictors (10 and up) undone.
[[nodiscard]] std::string FlateDecodePredicted(std::string_view bytes, int32_t predictor, int32_t colors,
                                               int32_t bitsPerComponent, int32_t columns,
                                               size_t maxOutput = kMaxDecodedSize, bool* intact = nullptr);
// Only the predictor step of FlateDecodePredicted, on already inflated data.
[[nodiscard]] std::string UndoPredictor(std::string data, int32_t predictor, int32_t colors,
                                        int32_t bitsPerComponent, int32_t columns);
// Undoes one row's PNG filter (type 0 to 4; other types leave the row as it is) in place: row
// holds the filtered bytes, previous the row above, already undone (nullptr for the first row),
// step the bytes of one whole pixel. PNG images and PDF's PNG predictors share it.
void UnfilterPNGRow(uint8_t type, uint8_t* row, const uint8_t* previous, size_t length, size_t step);
// Base-85 text (with or without its "~>" end mark) to bytes. intact (when given) is false for
// damaged text: a character no base-85 text holds, a z inside a group, a group beyond 32 bits,
// a lone last character.
[[nodiscard]] std::string ASCII85Decode(std::string_view bytes, bool* intact = nullptr);
// Bytes to base-85 text in lines of at most 75 characters, ending "~>", no "<~" prefix.
[[nodiscard]] std::string ASCII85Encode(std::string_view bytes);

}  // namespace lumipage
