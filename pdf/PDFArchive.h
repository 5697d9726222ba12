#pragma once
// PDF/A-1b (ISO 19005-1, level B) for the documents the engine writes: the XMP metadata that
// repeats the Info dictionary, the output intent with its colour profile, the file identifier;
// what an existing document claims of PDF/A, and whether a written one holds what we put in.
#include <string>
#include <string_view>

namespace lumipage {

class TPDFDocument;

// What a document's metadata says of PDF/A.
enum class TPdfaClaim {
  None,        // no metadata, or metadata without a PDF/A identification
  Claimed,     // a PDF/A identification: Part and Conformance say which
  Unreadable,  // a metadata entry that is no stream, or whose data cannot be read as XMP
};

struct TPdfaIdentification {
  TPdfaClaim Claim = TPdfaClaim::None;
  int Part = 0;             // 1 for PDF/A-1, 2, 3, ...
  std::string Conformance;  // "A", "B", "U"
};

// The identification in the catalog's /Metadata.
[[nodiscard]] TPdfaIdentification ReadPdfaIdentification(TPDFDocument& doc);

// Why pages cannot be added to the loaded document with the result still PDF/A-1b: empty when
// they can, else the reason as a phrase ("it does not claim PDF/A-1b"). colourPages: the new
// pages are in colour (DeviceRGB), which needs an RGB output intent.
[[nodiscard]] std::string PdfaAppendRefusal(TPDFDocument& doc, bool colourPages);

// The catalog has a PDF/A output intent with a usable colour profile, for RGB colour when
// colourPages.
[[nodiscard]] bool PdfaOutputIntentSuits(TPDFDocument& doc, bool colourPages);

// Makes the document PDF/A-1b as it is about to be written (after its dates are set): a file
// identifier, an output intent with the sRGB profile unless one with a profile is there, and
// XMP metadata, uncompressed, that repeats the Info dictionary. Info dates that XMP cannot repeat
// exactly (no time zone, malformed) are written anew in full. part: the PDF/A part the metadata
// names (1, or the part an appended file already claims). False on a protected document.
[[nodiscard]] bool MakePdfa(TPDFDocument& doc, int part = 1);

// What a written document lacks of what MakePdfa put into it; empty when nothing.
[[nodiscard]] std::string PdfaFailure(TPDFDocument& doc);

// The XMP packet for the document's Info dictionary as it stands (the text MakePdfa stores).
[[nodiscard]] std::string PdfaMetadata(TPDFDocument& doc, int part);

// "D:YYYYMMDDHHmmSS+HH'mm'" (fields after the year optional) as XMP writes the same instant,
// "YYYY-MM-DDThh:mm:ss+hh:mm"; empty when the text is no PDF date. Without a zone, UTC.
[[nodiscard]] std::string XmpDateFromPdfDate(std::string_view pdfDate);

// The sRGB colour profile embedded as the output intent's (from Debian's icc-profiles-free).
[[nodiscard]] std::string_view SrgbProfile();

}  // namespace lumipage
