#include "imaging/ImageFileFormats.h"

#include <cctype>
#include <map>
#include <utility>

namespace lumipage {

namespace {

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

}  // namespace lumipage
