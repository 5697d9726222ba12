#pragma once
// Registry of image file classes by extension (without dot, any case), so that a caller that
// does not know a file's format can pick the class. File classes register when the program
// starts.
#include <memory>
#include <string>

namespace lumipage {

class TDibGraphic;

using TGraphicFactory = std::unique_ptr<TDibGraphic> (*)();
void RegisterImageFileFormat(const std::string& extension, const std::string& description,
                             TGraphicFactory factory);
// Null when no class is registered for the extension.
[[nodiscard]] TGraphicFactory FindImageFileFormat(const std::string& extension);
[[nodiscard]] std::string ImageFileFormatDescription(const std::string& extension);

}  // namespace lumipage
