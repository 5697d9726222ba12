// Process entry: one job per process; the report file tells the outcome. The exit code is 0,
// or 1 when the report could not be written and went to standard error instead.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/FrmScan.h"
#include "app/ScannerFactory.h"
#include "platform/Files.h"
#include "platform/InfoDialog.h"
#include "platform/Interrupt.h"
#include "platform/LargeMemory.h"
#include "platform/SystemFolder.h"

namespace {

// The usage text around the settings' lines.
const char kUsageHead[] =
    "Usage: lumipage [switch | name value] ...\n"
    "Scans pages and stores them as BMP, JPEG or TIFF files, one multi-page TIFF or one PDF,\n"
    "then writes the report file (lp_done.dat in the job folder). The exit code is 0; it is 1\n"
    "only when the report cannot be written: the report then goes to standard error.\n"
    "\n";
const char kUsageTail[] =
    "Defaults come from lumipage.ini ([Scan] section) in the job folder: the program's own\n"
    "folder, or for an installed program $LUMIPAGE_HOME, else the working folder.\n"
    "See lumipage(1).\n"
    "  --help, -h     this text      --version   the program's version\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs((kUsageHead + lumipage::OptionsUsage() + kUsageTail).c_str(), stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("lumipage %s\n", lumipage::platform::FileVersionText().c_str());
    return 0;
  }
  lumipage::platform::KeepPageBuffersInHeap();
  lumipage::TJobEnvironment env;
  env.CommandLine = lumipage::TCommandLine(argc, argv);
  env.ExeFolder = lumipage::platform::ProgramFolders().Job;
  if (!lumipage::platform::DirectoryExists(env.ExeFolder)) {
    // No report can be written anywhere the caller would look.
    const char* home = std::getenv("LUMIPAGE_HOME");
    std::fprintf(stderr, "lumipage: the job folder %s is not a folder (LUMIPAGE_HOME, else the working folder); nothing was done\n",
                 env.ExeFolder.empty() ? (home && *home ? home : "(the working folder is unknown)") : env.ExeFolder.c_str());
    return 1;
  }
  env.CreateScanner = lumipage::CreateProcessScanner;
  // A caller's time-out (SIGTERM, SIGINT, SIGHUP) stops the job at its next safe point.
  lumipage::platform::TInterruptWatch interrupts;
  lumipage::TFrmScan form(std::move(env));
  return form.Run();
}
