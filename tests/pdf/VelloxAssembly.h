#pragma once
// The facade calls the scan job makes to assemble its PDF, for the tests and benchmarks that
// drive the engine the way the job does.
#include <filesystem>
#include <string>
#include <vector>

#include "pdf/Vellox.h"

namespace lumipage::testutil {

struct ScanPage {
  std::string File;
  int Width;
  int Height;
  int Dpi;
};

struct AssemblyOptions {
  std::string Password;
  std::string ExistingPassword;  // for SetPassword when appending
  bool Append = false;
};

// The facade calls of the scan job's PDF assembly, in order, up to the save.
inline void BuildAssembly(TVellox& pdf, const std::string& fileName, const std::vector<ScanPage>& pages,
                          const AssemblyOptions& o) {
  int existing = 0;
  const bool loaded = o.Append && std::filesystem::exists(fileName);
  if (loaded) {
    (void)pdf.LoadFromFile(fileName);
    if (!o.ExistingPassword.empty()) {
      const int r = pdf.SetPassword(o.ExistingPassword);
      if (r == 1 || r == 2 || r == 5) (void)pdf.Unencrypt();
    }
    existing = pdf.PageCount();
    (void)pdf.SelectPage(existing);
  }
  (void)pdf.SetPageSize("A4");
  const char* texts[] = {"Orrinwell Ltd", "Ferrodoc Document", "", "", "Orrinwell Ltd", "Orrinwell Ltd"};
  for (int key = 1; key <= 6; ++key) (void)pdf.SetInformation(key, texts[key - 1]);
  (void)pdf.SetOrigin(1);
  (void)pdf.SetMeasurementUnits(1);
  const int count = static_cast<int>(pages.size());
  (void)pdf.NewPages(loaded ? count : count - 1);
  for (int i = 1; i <= count; ++i) {
    const ScanPage& p = pages[static_cast<size_t>(i - 1)];
    (void)pdf.SelectPage(existing + i);
    (void)pdf.SetMeasurementUnits(2);
    if (p.Dpi > 0) {
      (void)pdf.SetPageDimensions(static_cast<double>(p.Width) / p.Dpi, static_cast<double>(p.Height) / p.Dpi);
    } else {
      (void)pdf.SetPageSize("A4");
    }
    (void)pdf.AddImageFromFile(p.File, 0);
    (void)pdf.FitImage(0, 0, pdf.GetPageBox(1, 2), pdf.GetPageBox(1, 3), 1, 1, 0);
  }
  (void)pdf.CompressContent();
  if (!o.Password.empty())
    (void)pdf.Encrypt(o.Password, o.Password, 1, pdf.Permissions(1, 1, 1, 1, 1, 1, 1, 1));
}

}  // namespace lumipage::testutil
