#pragma once
#include <istream>

#include "pdf/PDFObject.h"

namespace lumipage {

class TPDFDictionary;

class TPDFStream final : public TPDFObject {
 public:
  // The dictionary is created in the same pool, held by the stream.
  TPDFStream(TPDFStructure& owner, TPDFDictionary* dictionary, std::string rawData);

  // The dictionary text, "stream" LF, the raw data, LF "endstream".
  void AppendText(std::string& out, int depth) const override;
  void ShiftNumbers(int32_t n) override;
  [[nodiscard]] bool Refers(const TPDFObject* value) const override;
  void Children(std::vector<TPDFObject*>& out) const override;

  [[nodiscard]] TPDFDictionary* Dictionary() const { return dictionary_; }
  // The encoded bytes exactly as stored in the file.
  [[nodiscard]] const std::string& RawData() const { return rawData_; }
  // The data with every filter of /Filter undone in order; unknown filters are passed over.
  // intact (when given) tells whether every filter decoded its data to the end: false for
  // damaged data, of which the result holds only what could be read.
  [[nodiscard]] std::string Decode(bool* intact = nullptr) const;
  // Stores the bytes and sets /Length (the existing number in place, or a new one).
  void SetRawData(std::string bytes);
  // Plain bytes: Flate-compressed with /Filter /FlateDecode, or stored as they are without
  // /Filter. Parameters of the old filters go with them.
  void SetData(std::string_view bytes, bool compress);
  // The whole byte stream from its start, stored as SetData does when it is not empty;
  // /Length is set in every case.
  void LoadData(std::istream& in, bool compress);
  // The old dictionary goes to DeleteObject.
  void SetDictionary(TPDFDictionary* dictionary);

  // The raw data to be changed in place (encryption keeps the length).
  [[nodiscard]] std::string& MutableRawData() { return rawData_; }

 private:
  TPDFDictionary* dictionary_;
  std::string rawData_;
};

}  // namespace lumipage
