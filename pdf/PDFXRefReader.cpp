#include "pdf/PDFXRefReader.h"

#include <algorithm>

#include "pdf/PDFLimits.h"
#include "pdf/PDFLexer.h"
#include "pdf/PDFParser.h"
#include "pdf/PDFStructure.h"
#include "platform/ByteOrder.h"

namespace lumipage {

namespace {

// Numbers of the cross-reference data are runs of at most this many digits: far above any
// offset, far below overflow.
constexpr size_t kMaxDigits = 12;

}  // namespace

std::string_view TPDFXRefReader::Window(int64_t at, size_t length) const {
  if (at < 0 || static_cast<uint64_t>(at) >= file_.size()) return {};
  return file_.substr(static_cast<size_t>(at), length);
}

int64_t TPDFXRefReader::FindStartXRef() const {
  // The number after the last "startxref": garbage after "%%EOF", or no "%%EOF" at all, do not
  // hide it.
  const size_t kw = file_.rfind("startxref");
  if (kw != std::string_view::npos) {
    const size_t start = pdflex::SkipWhite(file_, kw + 9);
    const size_t p = pdflex::SkipDigits(file_, start);
    if (p > start && p - start <= kMaxDigits) return pdflex::DigitsValue(file_.substr(start, p - start));
  }
  const size_t tailStart = file_.size() > 1024 ? file_.size() - 1024 : 0;
  const size_t eof = file_.rfind("%%EOF");
  if (eof == std::string_view::npos || eof < tailStart) return 0;
  const size_t from = eof > 5000 ? eof - 5000 : 0;
  const size_t end = pdflex::WhiteRunStart(file_, eof, from);
  const size_t start = pdflex::DigitRunStart(file_, end, from);
  if (start == end || end - start > kMaxDigits) return 0;
  return pdflex::DigitsValue(file_.substr(start, end - start));
}

bool TPDFXRefReader::ReadSection(int64_t offset) {
  // A loop in /Prev or /XRefStm ends the chain: everything it leads to was read already.
  if (!visited_.insert(offset).second) return true;
  if (static_cast<int>(visited_.size()) > kMaxXRefSections) return true;
  // Offsets of a file with junk before its header may count from the header.
  offset += Base;
  if (OnSection) OnSection(offset);
  // A /Prev may point into a run of whitespace before the section (incremental saves on top
  // of linearized files): the run is stepped over first.
  const int64_t runStart = std::max<int64_t>(0, offset);
  const int64_t runEnd = std::min<int64_t>(static_cast<int64_t>(file_.size()), runStart + (1 << 20));
  const auto p = static_cast<int64_t>(
      pdflex::SkipWhite(file_.substr(0, static_cast<size_t>(runEnd)), static_cast<size_t>(runStart)));
  if (p < runEnd && p - offset > 10) offset = p;
  const int64_t windowStart = std::max<int64_t>(0, offset - 10);
  const std::string_view w = Window(windowStart, 40);
  size_t xref = w.find("xref");
  if (xref != std::string_view::npos && xref > 0 && w[xref - 1] == 't') xref = std::string_view::npos;
  const size_t obj = w.find(" obj");
  if (xref == std::string_view::npos && obj != std::string_view::npos)
    return ReadStream(windowStart + static_cast<int64_t>(obj) + 4);
  if (xref != std::string_view::npos && (obj == std::string_view::npos || obj > xref))
    return ReadTable(windowStart + static_cast<int64_t>(xref) + 4);
  return false;
}

bool TPDFXRefReader::ReadTable(int64_t p) {
  const auto size = static_cast<int64_t>(file_.size());
  auto at = [&](int64_t i) { return file_[static_cast<size_t>(i)]; };
  // Whitespace and comment lines between tokens; entries are read token by token, so odd
  // spacing and 19- or 21-byte entries read as well as 20-byte ones.
  auto skip = [&]() { p = static_cast<int64_t>(pdflex::SkipWhiteAndComments(file_, static_cast<size_t>(p))); };
  auto number = [&]() -> int64_t {
    const auto start = static_cast<size_t>(p);
    const size_t end = pdflex::SkipDigits(file_, start);
    p = static_cast<int64_t>(end);
    if (end == start || end - start > kMaxDigits) return -1;
    return pdflex::DigitsValue(file_.substr(start, end - start));
  };
  for (;;) {
    skip();
    if (p >= size) return false;  // a table cut off
    if (file_.substr(static_cast<size_t>(p), 7) == "trailer") break;
    const int64_t first = number();
    skip();
    const int64_t count = number();
    if (first < 0 || count < 0) return false;  // junk where a subsection should start
    bool firstEntry = true;
    int64_t shift = 0;
    for (int64_t k = 0; k < count; ++k) {
      skip();
      const int64_t offset = number();
      skip();
      const int64_t generation = number();
      skip();
      if (offset < 0 || generation < 0 || p >= size || (at(p) != 'n' && at(p) != 'f')) return false;
      const char kind = at(p++);
      // A table that numbers its first subsection from 1 while listing object 0's entry.
      if (firstEntry && first == 1 && kind == 'f' && offset == 0 && generation == 65535) shift = -1;
      firstEntry = false;
      if (OnEntry) OnEntry(first + k + shift, kind == 'n' ? offset + Base : offset, kind, generation);
    }
  }
  // The trailer is read from the rest of the file: a large one (long /ID strings, direct
  // dictionaries) still fits.
  const std::string_view w = Window(p, std::string_view::npos);
  const size_t t = w.find("trailer");
  if (t == std::string_view::npos) return false;
  const size_t open = w.find("<<", t);
  if (open == std::string_view::npos || w.find(">>", open) == std::string_view::npos) return false;
  TPDFStructure scratch;
  auto* dict = As<TPDFDictionary>(scratch.Parse(w.substr(t + 7)));
  if (dict == nullptr) return false;
  if (OnTrailer) OnTrailer(dict->ToText());
  if (auto* x = As<TPDFNumeric>(dict->Get("XRefStm"))) {
    FollowedXRefStm = true;
    (void)ReadSection(static_cast<int64_t>(x->Value));
  }
  if (auto* prev = As<TPDFNumeric>(dict->Get("Prev"))) return ReadSection(static_cast<int64_t>(prev->Value));
  return true;
}

bool TPDFXRefReader::ReadStream(int64_t p) {
  const std::string_view w = Window(p, std::string_view::npos);
  TPDFStructure scratch;
  TPDFParser parser(scratch, w);
  auto* dict = As<TPDFDictionary>(parser.ParseFirst());
  if (dict == nullptr || dict->TypeName() != "XRef" || As<TPDFNumeric>(dict->Get("Size")) == nullptr) return false;

  std::vector<std::pair<int64_t, int64_t>> sections;
  if (auto* index = As<TPDFArray>(dict->Get("Index"))) {
    for (int i = 0; i + 1 < index->Count(); i += 2) {
      auto* a = As<TPDFNumeric>(index->Item(i));
      auto* b = As<TPDFNumeric>(index->Item(i + 1));
      sections.emplace_back(a == nullptr ? 0 : static_cast<int64_t>(a->Value),
                            b == nullptr ? 0 : static_cast<int64_t>(b->Value));
    }
  } else {
    sections.emplace_back(0, static_cast<int64_t>(As<TPDFNumeric>(dict->Get("Size"))->Value));
  }
  auto* prevNumber = As<TPDFNumeric>(dict->Get("Prev"));
  const int64_t prev = prevNumber == nullptr ? 0 : static_cast<int64_t>(prevNumber->Value);

  int widths[3] = {0, 0, 0};
  bool haveWidths = false;
  if (auto* wa = As<TPDFArray>(dict->Get("W")); wa != nullptr && wa->Count() > 2) {
    haveWidths = true;
    for (int i = 0; i < 3; ++i) {
      auto* n = As<TPDFNumeric>(wa->Item(i));
      // Fields wider than eight bytes cannot hold anything a 64-bit reader could use.
      widths[i] = n == nullptr ? 0 : std::clamp(n->AsInteger(), 0, 8);
    }
  }
  const int entryWidth = widths[0] + widths[1] + widths[2];

  std::string data;
  const size_t s = w.find("stream", parser.Position());
  auto* length = As<TPDFNumeric>(dict->Get("Length"));
  if (haveWidths && entryWidth > 0 && s != std::string_view::npos && length != nullptr && length->Value > 0) {
    size_t start = s + 6;
    if (start < w.size() && w[start] == '\n') {
      ++start;
    } else if (start < w.size() && w[start] == '\r') {
      start += 2;
    }
    const std::string_view raw = Window(p + static_cast<int64_t>(start), static_cast<size_t>(std::min(length->Value, 4e18)));
    if (!raw.empty()) {
      TPDFStream* stream = scratch.MakeStream(std::string(raw));
      stream->Dictionary()->Assign(*dict);
      data = stream->Decode();
    }
  }

  size_t pos = 0;
  auto field = [&](int width) -> int64_t {
    const uint64_t v = platform::LoadBE(data.data() + pos, static_cast<size_t>(width));
    pos += static_cast<size_t>(width);
    return static_cast<int64_t>(v & 0x7FFFFFFFFFFFFFFFull);
  };
  for (const auto& [first, count] : sections) {
    for (int64_t k = 0; k < count; ++k) {
      if (entryWidth == 0 || pos + static_cast<size_t>(entryWidth) > data.size()) break;
      const int64_t type = widths[0] == 0 ? 1 : field(widths[0]);
      const int64_t f2 = field(widths[1]);
      const int64_t f3 = field(widths[2]);
      if (!OnEntry) continue;
      switch (type) {
        case 0: OnEntry(first + k, f2, 'f', f3); break;
        case 1: OnEntry(first + k, f2 + Base, 'n', widths[2] == 0 ? 0 : f3); break;
        case 2: OnEntry(first + k, f2, 'c', f3); break;
        default: OnEntry(first + k, 0, ' ', 0); break;
      }
    }
  }
  if (OnTrailer) OnTrailer(dict->ToText());
  if (prev >= 1) return ReadSection(prev);
  return true;
}

}  // namespace lumipage
