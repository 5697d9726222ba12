#include "pdf/PDFPainter.h"

#include "pdf/PDFNumberText.h"

namespace lumipage {

void TPDFPainter::Reset() {
  text_.clear();
  pending_ = nullptr;
  FillColorSet = false;
  FillColorLine.clear();
}

void TPDFPainter::Bind(LoadHook load) {
  text_.clear();
  pending_ = std::move(load);
}

void TPDFPainter::EnsureLoaded() {
  if (!pending_) return;
  LoadHook load = std::move(pending_);
  pending_ = nullptr;
  text_ = load();
  // Further operators must not run into the last token of the existing content.
  if (!text_.empty() && text_.back() != ' ') text_ += ' ';
}

void TPDFPainter::AppendLine(std::string_view line) {
  EnsureLoaded();
  text_ += line;
  text_ += '\n';
}

void TPDFPainter::AppendNumber(double value) {
  EnsureLoaded();
  AppendNumberText(text_, value, precision_);
  text_ += ' ';
}

void TPDFPainter::AppendText(std::string_view text) {
  EnsureLoaded();
  text_ += text;
}

void TPDFPainter::Store() {
  EnsureLoaded();
  if (OnStore) OnStore(text_);
}

const std::string& TPDFPainter::Text() {
  EnsureLoaded();
  return text_;
}

}  // namespace lumipage
