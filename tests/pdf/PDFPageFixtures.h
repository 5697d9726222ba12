#pragma once
// Image files for the page and image tests, written with libjpeg and libtiff directly (not the
// image library), so that what is embedded is known byte for byte.
// jpeglib.h needs size_t and FILE declared before it.
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>
#include <tiffio.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/pdf/PdfTestUtil.h"

namespace lumipage::testutil {

struct JpegSpec {
  int Width = 64;
  int Height = 48;
  int Components = 3;  // 1 grey, 3 RGB, 4 CMYK
  bool Jfif = true;
  int JfifUnits = 1;
  int XDensity = 300;
  int YDensity = 300;
  int Quality = 80;
  // Fills row y (Width * Components samples); empty: a colour gradient.
  std::function<void(int y, JSAMPLE* row)> Rows;
};

// A JPEG written with libjpeg, so that its bytes are known exactly.
inline void WriteJpeg(const std::string& file, const JpegSpec& spec) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  FILE* out = std::fopen(file.c_str(), "wb");
  jpeg_stdio_dest(&cinfo, out);
  cinfo.image_width = static_cast<JDIMENSION>(spec.Width);
  cinfo.image_height = static_cast<JDIMENSION>(spec.Height);
  cinfo.input_components = spec.Components;
  cinfo.in_color_space = spec.Components == 1 ? JCS_GRAYSCALE : spec.Components == 4 ? JCS_CMYK : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  cinfo.write_JFIF_header = spec.Jfif ? TRUE : FALSE;
  cinfo.density_unit = static_cast<UINT8>(spec.JfifUnits);
  cinfo.X_density = static_cast<UINT16>(spec.XDensity);
  cinfo.Y_density = static_cast<UINT16>(spec.YDensity);
  jpeg_set_quality(&cinfo, spec.Quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> row(static_cast<size_t>(spec.Width * spec.Components));
  for (int y = 0; y < spec.Height; ++y) {
    if (spec.Rows) {
      spec.Rows(y, row.data());
    } else {
      for (int x = 0; x < spec.Width; ++x)
        for (int c = 0; c < spec.Components; ++c)
          row[static_cast<size_t>(x * spec.Components + c)] = static_cast<JSAMPLE>((x * 4 + y * 2 + c * 60) & 0xFF);
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::fclose(out);
}

struct TiffSpec {
  uint32_t Width = 200;
  uint32_t Height = 250;
  uint16_t Compression = COMPRESSION_CCITTFAX4;
  uint32_t Group3Options = 0;  // bit 0: two-dimensional coding
  uint16_t FillOrder = FILLORDER_MSB2LSB;
  uint16_t Photometric = PHOTOMETRIC_MINISWHITE;
  uint32_t RowsPerStrip = 0;  // 0: one strip
  float XResolution = 200;
  float YResolution = 200;
  uint16_t ResolutionUnit = RESUNIT_INCH;
  bool BigEndian = false;
  int Pages = 1;
};

// The black-and-white test picture: true where a pixel is black (a frame, a diagonal and a
// block whose place depends on the page).
inline bool BlackPixel(uint32_t x, uint32_t y, uint32_t w, uint32_t h, int page = 0) {
  if (x < 3 || y < 3 || x + 3 >= w || y + 3 >= h) return true;
  if (x == y || x + 1 == y) return true;
  const uint32_t bx = 20 + static_cast<uint32_t>(page) * 10;
  return x >= bx && x < bx + 30 && y >= 40 && y < 60;
}

inline void WriteTiff(const std::string& file, const TiffSpec& spec) {
  TIFF* tif = TIFFOpen(file.c_str(), spec.BigEndian ? "wb" : "wl");
  for (int page = 0; page < spec.Pages; ++page) {
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, spec.Width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, spec.Height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, spec.Compression);
    if (spec.Compression == COMPRESSION_CCITTFAX3) TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, spec.Group3Options);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, spec.Photometric);
    TIFFSetField(tif, TIFFTAG_FILLORDER, spec.FillOrder);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, spec.RowsPerStrip == 0 ? spec.Height : spec.RowsPerStrip);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, spec.XResolution);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, spec.YResolution);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, spec.ResolutionUnit);
    if (spec.Pages > 1) {
      TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
      TIFFSetField(tif, TIFFTAG_PAGENUMBER, page, spec.Pages);
    }
    std::vector<uint8_t> row((spec.Width + 7) / 8);
    for (uint32_t y = 0; y < spec.Height; ++y) {
      std::fill(row.begin(), row.end(), 0);
      for (uint32_t x = 0; x < spec.Width; ++x) {
        const bool black = BlackPixel(x, y, spec.Width, spec.Height, page);
        // Sample 1 is black in a min-is-white file, white in a min-is-black one.
        const bool one = spec.Photometric == PHOTOMETRIC_MINISWHITE ? black : !black;
        if (one) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      }
      TIFFWriteScanline(tif, row.data(), y, 0);
    }
    TIFFWriteDirectory(tif);
  }
  TIFFClose(tif);
}

// The strips of one page exactly as stored in the file.
inline std::vector<std::string> TiffStrips(const std::string& file, int page = 0) {
  std::vector<std::string> strips;
  TIFF* tif = TIFFOpen(file.c_str(), "r");
  TIFFSetDirectory(tif, static_cast<tdir_t>(page));
  const tstrip_t n = TIFFNumberOfStrips(tif);
  for (tstrip_t s = 0; s < n; ++s) {
    std::string bytes(static_cast<size_t>(TIFFRawStripSize(tif, s)), '\0');
    TIFFReadRawStrip(tif, s, bytes.data(), static_cast<tmsize_t>(bytes.size()));
    strips.push_back(std::move(bytes));
  }
  TIFFClose(tif);
  return strips;
}

// Every image line of `pdfimages -list` after the two header lines.
inline std::vector<std::string> ImageList(const std::string& file, const std::string& extra = "") {
  const std::string out = RunCommand("pdfimages -list " + extra + " '" + file + "'").output;
  std::vector<std::string> lines;
  size_t start = 0;
  int line = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    if (++line > 2) lines.push_back(out.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Whitespace-separated fields of one line.
inline std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> f;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ') ++i;
    if (i > start) f.push_back(line.substr(start, i - start));
  }
  return f;
}

// The "Page size:" line of pdfinfo for one page.
inline std::string PageSize(const std::string& file, int page, const std::string& extra = "") {
  const std::string out =
      RunCommand("pdfinfo " + extra + " -f " + std::to_string(page) + " -l " + std::to_string(page) + " '" + file + "'")
          .output;
  const std::string key = "Page " + std::string(page < 10 ? "   " : page < 100 ? "  " : " ") + std::to_string(page) +
                          " size:";
  size_t at = out.find(key);
  if (at == std::string::npos) return {};
  at += key.size();
  while (at < out.size() && out[at] == ' ') ++at;
  const size_t end = out.find(" pts", at);
  return out.substr(at, end - at);
}

// A PDF file from the bodies of objects 1, 2, ... (object 1 is the catalog), with a classic
// cross-reference table.
inline std::string MakePdf(const std::vector<std::string>& bodies) {
  std::string out = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < bodies.size(); ++i) {
    offsets.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + bodies[i] + "\nendobj\n";
  }
  const size_t xref = out.size();
  out += "xref\n0 " + std::to_string(bodies.size() + 1) + "\n0000000000 65535 f \n";
  char line[24];
  for (size_t offset : offsets) {
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
    out += line;
  }
  out += "trailer\n<< /Size " + std::to_string(bodies.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return out;
}

// One field of pdfinfo's report, without the padding after the colon.
inline std::string InfoField(const std::string& file, const std::string& key, const std::string& extra = "") {
  const std::string out = RunCommand("pdfinfo " + extra + " '" + file + "'").output;
  const size_t at = out.find("\n" + key + ":");
  if (at == std::string::npos && !out.starts_with(key + ":")) return {};
  size_t p = at == std::string::npos ? key.size() + 1 : at + key.size() + 2;
  while (p < out.size() && out[p] == ' ') ++p;
  return out.substr(p, out.find('\n', p) - p);
}

// Page 1 of a PDF rendered by poppler's Cairo back end at dpi as one bit per pixel, black true;
// empty on failure. (The Splash back end of pdftoppm shifts single rows and columns of 1-bit
// images by a pixel even at an integer scale, so it cannot show pixel equality.)
inline std::vector<std::vector<bool>> RenderMono(const std::string& pdf, int dpi, const std::string& stem) {
  std::vector<std::vector<bool>> rows;
  const CommandResult r = RunCommand("pdftocairo -tiff -mono -singlefile -r " + std::to_string(dpi) + " '" + pdf +
                                     "' '" + stem + "'");
  if (r.status != 0) return rows;
  TIFF* tif = TIFFOpen((stem + ".tif").c_str(), "r");
  if (tif == nullptr) return rows;
  uint32_t w = 0;
  uint32_t h = 0;
  uint16_t photometric = PHOTOMETRIC_MINISBLACK;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  std::vector<uint8_t> line(static_cast<size_t>(TIFFScanlineSize(tif)));
  for (uint32_t y = 0; y < h; ++y) {
    TIFFReadScanline(tif, line.data(), y, 0);
    std::vector<bool> row(w);
    for (uint32_t x = 0; x < w; ++x) {
      const bool one = (line[x / 8] & (0x80 >> (x % 8))) != 0;
      row[x] = photometric == PHOTOMETRIC_MINISBLACK ? !one : one;
    }
    rows.push_back(std::move(row));
  }
  TIFFClose(tif);
  return rows;
}

}  // namespace lumipage::testutil
