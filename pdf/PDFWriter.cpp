#include "pdf/PDFWriter.h"

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <sstream>
#include <string_view>
#include <utility>
#include <vector>

#include "pdf/PDFDocument.h"

namespace lumipage {

namespace {

bool IsCrossReferenceData(const TPDFObject* value) {
  const auto* stream = As<TPDFStream>(value);
  if (stream == nullptr) return false;
  const std::string type = stream->Dictionary()->TypeName();
  return type == "ObjStm" || type == "XRef";
}

}  // namespace

bool SaveToStream(TPDFDocument& document, std::ostream& out, TSaveResult* result) {
  const TSaveResult written = TPDFWriter(document).Write(out);
  if (result != nullptr) *result = written;
  return written == TSaveResult::Saved;
}

std::string SaveToString(TPDFDocument& document) {
  std::ostringstream out;
  if (!SaveToStream(document, out)) return {};
  return std::move(out).str();
}

std::string TPDFWriter::ObjectText(TPDFIndObj& object) {
  TPDFDocument& doc = document_;
  if (!object.Parsed) {
    // Objects from object streams are written as ordinary objects; object streams and
    // cross-reference streams would dangle beside a classic table and are left out.
    if (object.InObjectStream && !object.TextCached && doc.SecurityState() == TSecurityState::Unprotected) {
      // Copied as an ordinary object without parsing (objects in streams are never streams).
      std::string_view bytes;
      if (!doc.ObjectStreamBytes(object, bytes)) return {};
      std::string text = std::to_string(object.Number) + ' ' + std::to_string(object.Generation) + " obj\n";
      text += bytes;
      text += "\nendobj\n";
      return text;
    }
    bool parse = object.InObjectStream;
    if (!parse && !object.TextCached) {
      const std::string& file = doc.FileText();
      const std::string_view raw =
          object.Offset > 0 && static_cast<size_t>(object.Offset) < file.size()
              ? std::string_view(file).substr(static_cast<size_t>(object.Offset), static_cast<size_t>(object.Length))
              : std::string_view();
      parse = raw.find("/ObjStm") != std::string_view::npos || raw.find("/XRef") != std::string_view::npos;
    }
    if (!parse) return object.RawText();
    doc.GetValue(&object);
    if (IsCrossReferenceData(object.Value)) {
      // Parsed only to be recognised and left out: its file text still holds it.
      (void)doc.DropParsedValue(object);
      return {};
    }
  }
  if (IsCrossReferenceData(object.Value)) return {};
  doc.EncryptForWriting(object);
  return object.ObjectText();
}

TSaveResult TPDFWriter::Write(std::ostream& out) {
  TPDFDocument& doc = document_;
  tableSize_ = 0;
  try {
    // Written through a modest buffer: the document is never held twice, and a file stream
    // still gets few large writes (a write costs far more than copying 64 KB) rather than one
    // for every 8 KB of its own buffer.
    constexpr size_t kBuffer = size_t{64} << 10;
    std::string pending;
    pending.reserve(kBuffer);
    uint64_t written = OffsetOrigin;
    auto flush = [&]() {
      out.write(pending.data(), static_cast<std::streamsize>(pending.size()));
      pending.clear();
      return static_cast<bool>(out);
    };
    // The last bytes written, for the look-back check before the table.
    std::string tail;
    auto put = [&](std::string_view text) {
      written += text.size();
      if (text.size() >= 10) {
        tail.assign(text.substr(text.size() - 10));
      } else {
        tail += text;
        if (tail.size() > 10) tail.erase(0, tail.size() - 10);
      }
      if (pending.size() + text.size() > kBuffer) {
        if (!flush()) return false;
        if (text.size() >= kBuffer) {
          out.write(text.data(), static_cast<std::streamsize>(text.size()));
          return static_cast<bool>(out);
        }
      }
      pending += text;
      return true;
    };
    if (!put("%PDF-" + doc.Version() + "\n%\xE2\xE3\xCF\xD3\n")) return TSaveResult::WriteFailed;

    // One entry per number: offset << 16 | generation, 0 while the number is free. Offsets
    // are never 0 (the header comes first).
    std::vector<uint64_t> table(static_cast<size_t>(doc.HighestNumber()) + 1, 0);
    for (size_t i = 0; i < doc.ObjectCount(); ++i) {
      TPDFIndObj* obj = doc.ObjectAt(i);
      if (obj->Number <= 0) continue;
      uint64_t& entry = table[static_cast<size_t>(obj->Number)];
      if (entry != 0) continue;  // a second object of one number cannot be addressed
      std::string text = ObjectText(*obj);
      if (text.empty()) continue;
      if (text.back() != '\n' && text.back() != '\r') text += '\n';
      // An entry that needs more digits would make the table unreadable.
      if (written > kMaxEntryOffset) return TSaveResult::TooLarge;
      entry = written << 16 | static_cast<uint64_t>(std::clamp(obj->Generation, 0, 65535));
      if (!put(text)) return TSaveResult::WriteFailed;
    }
    // Released at once: nothing else reads the decoded stream after the copy.
    doc.ReleaseObjectStreamCache();

    // The reader looks for "xref" in a window starting 10 bytes before it; copied text that
    // ends in an object header or in "xref" there would hide the table from it.
    if (tail.find(" obj") != std::string::npos || tail.find("xref") != std::string::npos) {
      if (!put(std::string(10, '\n'))) return TSaveResult::WriteFailed;
    }
    const uint64_t xref = written;
    std::string buf = "xref\n0 " + std::to_string(table.size()) + "\n";
    char line[40];
    for (size_t i = 0; i < table.size(); ++i) {
      const uint64_t entry = table[i];
      if (i == 0) {
        buf += "0000000000 65535 f \n";
      } else if (entry == 0) {
        buf += "0000000000 00000 f \n";
      } else {
        std::snprintf(line, sizeof line, "%010llu %05u n \n", static_cast<unsigned long long>(entry >> 16),
                      static_cast<unsigned>(entry & 0xFFFF));
        buf += line;
      }
      if (buf.size() >= 4096) {
        if (!put(buf)) return TSaveResult::WriteFailed;
        buf.clear();
      }
    }
    buf += "trailer\n";
    // A loaded trailer's /Size describes the old file; the table written here decides it.
    if (auto* size = As<TPDFNumeric>(doc.Trailer()->Get("Size"))) {
      size->Value = static_cast<double>(table.size());
    } else {
      doc.Trailer()->Put("Size", doc.Structure().MakeNumber(static_cast<double>(table.size())));
    }
    doc.Trailer()->AppendText(buf, 0);
    buf += "startxref\n" + std::to_string(xref) + "\n%%EOF\n";
    if (!put(buf) || !flush()) return TSaveResult::WriteFailed;
    out.flush();
    tableSize_ = table.size();
    return out ? TSaveResult::Saved : TSaveResult::WriteFailed;
  } catch (...) {
    return TSaveResult::WriteFailed;
  }
}

}  // namespace lumipage
