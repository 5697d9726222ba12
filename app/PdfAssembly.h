#pragma once

namespace lumipage {

class TFrmScan;

// Gathers the job's page files into one PDF (new, or appended to the existing file), protected
// with the job's password when one is set. Raises EJobError when the PDF cannot be opened, a page
// cannot be added or the file cannot be saved; page files are removed only once the PDF is saved.
void AssemblePdf(TFrmScan& form);

}  // namespace lumipage
