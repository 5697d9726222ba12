#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/PageStore.h"
#include "app/OcrQueue.h"
#include "pdf/PDFPageText.h"

namespace lumipage {

// Gathers the job's page files into one PDF (new, or appended to the existing file), protected
// with the job's password when one is set (RC4 128 or AES-256 after PDFEncryption); an existing
// protected file keeps its own protection. Raises EJobError when the PDF cannot be opened, a page
// cannot be added or the file cannot be saved; page files are removed only once the PDF is saved.
// In a job split by separator sheets it writes the open document, a new file of its own, and the
// pages without text or turned go to the page store's lists instead.
// Entries of the report's [Scan] section that the assembly finds (pages without text, pages
// turned): key and value.
using TScanEntry = std::function<void(const std::string& key, const std::string& value)>;
void AssemblePdf(const TPageJob& job, const TScanEntry& recordScanEntry);

// Refuses, before anything is scanned, a PDF/A job that could only write a file that is not
// PDF/A: one with a password, or one that appends to a file that cannot stay PDF/A-1b (which is
// left as it was). Raises EJobError naming the reason.
void CheckPdfaJob(const TJobSettings& settings, const std::string& pdfName, bool pdfExists);

// After a failed PDF job: moves the intermediate page files beside the intended PDF as
// <name>-unsaved-001.jpg, ... (never over an existing file; beside the program when that folder
// cannot take them), so that no later clean-up deletes them, and updates the page table.
// Returns the sentence that tells the report where they are ("" when nothing was moved).
std::string KeepUnsavedPages(TPageStore& store, const TJobSettings& settings, const std::string& pdfName);
// Files as the report names them, in the order given: a run of one folder and one numbering as
// "first to last", the others one by one, joined by ", " and a last " and ".
[[nodiscard]] std::string FileListText(const std::vector<std::string>& files);

// A page's recognised words as text over its image (page.Width by page.Height pixels as stored):
// words found on the upright page are carried back onto the image, running along the turned
// baseline.
[[nodiscard]] std::vector<TPageTextWord> TextOverImage(const TOcrResult& result, const TImageProps& page);

}  // namespace lumipage
