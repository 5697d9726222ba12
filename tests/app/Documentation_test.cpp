// The settings are listed in three places a user reads: `lumipage --help`, the README's table and
// the manual page. The lists must name the same switches, pairs and settings-file keys.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/RunCommand.h"
#include "tests/support/TempDir.h"

using namespace lumipage::testing;

namespace {

using Names = std::set<std::string>;

const std::string kSource = std::string(LUMIPAGE_TEST_DATA) + "/../../";

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

std::string FirstWord(const std::string& text) {
  const auto words = Words(text);
  return words.empty() ? std::string() : words[0];
}

// The text of every `code span` in a table cell.
std::vector<std::string> CodeSpans(const std::string& cell) {
  std::vector<std::string> spans;
  for (std::size_t at = cell.find('`'); at != std::string::npos;) {
    const std::size_t end = cell.find('`', at + 1);
    if (end == std::string::npos) break;
    spans.push_back(cell.substr(at + 1, end - at - 1));
    at = cell.find('`', end + 1);
  }
  return spans;
}

struct HelpLists {
  Names switches, pairs;
};

// "Switches:" words, and the first word of each comma-separated "Pairs:" item.
HelpLists FromHelp() {
  const CommandResult help = RunCommand(std::string("'") + LUMIPAGE_BUILD_DIR + "/lumipage' --help");
  EXPECT_EQ(help.status, 0);
  HelpLists lists;
  std::istringstream in(help.output);
  Names* current = nullptr;
  std::string pairsText;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Switches:", 0) == 0) {
      current = &lists.switches;
      line.erase(0, 9);
    } else if (line.rfind("Pairs:", 0) == 0) {
      current = &lists.pairs;
      line.erase(0, 6);
    } else if (line.empty() || line[0] != ' ') {
      current = nullptr;
    }
    if (current == &lists.switches)
      for (const auto& w : Words(line)) lists.switches.insert(w);
    if (current == &lists.pairs) pairsText += line + " ";
  }
  // Items end at a comma and a blank; a value's own commas have none ("l,t,r,b").
  for (std::size_t at = 0; at < pairsText.size();) {
    std::size_t end = pairsText.find(", ", at);
    if (end == std::string::npos) end = pairsText.size();
    if (!FirstWord(pairsText.substr(at, end - at)).empty()) lists.pairs.insert(FirstWord(pairsText.substr(at, end - at)));
    at = end + 2;
  }
  return lists;
}

struct ReadmeLists {
  Names names, keys;
};

// The command-line table: each row's names (first column) and settings-file keys (second).
ReadmeLists FromReadme() {
  std::istringstream in(ReadText(kSource + "README.md"));
  ReadmeLists lists;
  bool inSection = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("## ", 0) == 0) inSection = line == "## Command line";
    if (!inSection || line.rfind("| `", 0) != 0) continue;
    // An escaped bar belongs to a cell ("N\|name").
    for (std::size_t at; (at = line.find("\\|")) != std::string::npos;) line.replace(at, 2, "/");
    std::vector<std::string> cells;
    std::istringstream row(line);
    for (std::string cell; std::getline(row, cell, '|');) cells.push_back(cell);
    if (cells.size() < 3) continue;
    Names rowNames;
    for (const auto& span : CodeSpans(cells[1])) rowNames.insert(FirstWord(span));
    lists.names.insert(rowNames.begin(), rowNames.end());
    if (cells[2].find("same name") != std::string::npos) {
      lists.keys.insert(rowNames.begin(), rowNames.end());
    } else {
      for (const auto& span : CodeSpans(cells[2])) lists.keys.insert(FirstWord(span));
    }
  }
  return lists;
}

struct ManLists {
  Names switches, pairs, keys;
};

// Items of SWITCHES (.B words) and PAIRS (.BI "name " value), and the words of "Keys of [Scan]".
ManLists FromManPage() {
  std::istringstream in(ReadText(kSource + "doc/lumipage.1"));
  ManLists lists;
  std::string section;
  bool item = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(".SH ", 0) == 0 || line.rfind(".SS ", 0) == 0) {
      section = line.substr(4);
      continue;
    }
    if (line == ".TP") {
      item = true;
      continue;
    }
    if (item && section == "SWITCHES" && line.rfind(".B ", 0) == 0)
      for (const auto& w : Words(line.substr(3))) lists.switches.insert(w);
    if (item && section == "PAIRS" && line.rfind(".BI \"", 0) == 0)
      lists.pairs.insert(FirstWord(line.substr(5, line.find('"', 5) - 5)));
    item = false;
    if (section == "Keys of [Scan]" && !line.empty() && line[0] != '.')
      for (const auto& w : Words(line)) lists.keys.insert(w);
  }
  return lists;
}

Names Union(const Names& a, const Names& b) {
  Names u = a;
  u.insert(b.begin(), b.end());
  return u;
}

TEST(Documentation, HelpReadmeAndManPageListTheSameSettings) {
  const HelpLists help = FromHelp();
  const ReadmeLists readme = FromReadme();
  const ManLists man = FromManPage();
  // Guards against a parser that finds nothing and so agrees with itself.
  ASSERT_GT(help.switches.size(), 15u);
  ASSERT_GT(help.pairs.size(), 10u);

  EXPECT_EQ(man.switches, help.switches) << "the manual page's SWITCHES and --help differ";
  EXPECT_EQ(man.pairs, help.pairs) << "the manual page's PAIRS and --help differ";
  EXPECT_EQ(readme.names, Union(help.switches, help.pairs)) << "the README's table and --help differ";
  EXPECT_EQ(man.keys, readme.keys) << "the settings-file keys of the manual page and the README differ";
}

}  // namespace
