#pragma once
// The content writer of the selected page: a growing text of content-stream operators. After
// every drawing operation it hands its whole text to its owner (the page tree), which stores it
// as the data of the page's last content stream.
#include <functional>
#include <string>
#include <string_view>

namespace lumipage {

class TPDFPainter {
 public:
  using StoreHook = std::function<void(const std::string& text)>;
  // Supplies the text of the page's last content stream when the writer first needs it.
  using LoadHook = std::function<std::string()>;

  // Empty text, no pending load; the store hook stays.
  void Reset();
  // The page's existing content is fetched through load on first use (most pages that are
  // selected are never drawn on, and decoding their content would be wasted).
  void Bind(LoadHook load);
  // Decimals written for numbers (the document precision).
  void SetPrecision(int decimals) { precision_ = decimals; }
  [[nodiscard]] int Precision() const { return precision_; }

  // An operator line: the text and a line feed.
  void AppendLine(std::string_view line);
  // A number and one space: 15 significant digits, cut (not rounded) to the precision, trailing
  // zeros and point removed; values that need an exponent read 0.
  void AppendNumber(double value);
  // Raw text, no separator.
  void AppendText(std::string_view text);
  // Hands the whole text to the store hook.
  void Store();

  // The writer's text (the page's content loaded first when still pending).
  [[nodiscard]] const std::string& Text();

  // Fill-colour state of the drawing families: when set, the stored operator line is written
  // right after "q" for stencil masks.
  bool FillColorSet = false;
  std::string FillColorLine;

  StoreHook OnStore;

 private:
  void EnsureLoaded();

  std::string text_;
  LoadHook pending_;
  int precision_ = 4;
};

}  // namespace lumipage
