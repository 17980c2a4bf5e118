// The manual (docs/configuration.md) against the two tables it documents: every directive
// row and every command-line option row has its own heading, and no heading names a row
// that is gone.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "command_line.h"
#include "config_reader.h"

namespace {

// The "### `...`" headings of each "## " section of the manual, by section title.
std::map<std::string, std::vector<std::string>> readHeadings() {
  std::ifstream in(LAUNCHER_SOURCE_DIR "/docs/configuration.md");
  std::map<std::string, std::vector<std::string>> sections;
  std::string section;
  std::string line;
  while (std::getline(in, line)) {
    if (line.starts_with("## ")) section = line.substr(3);
    if (line.starts_with("### `")) sections[section].push_back(line.substr(5));
  }
  return sections;
}

// A heading documents a name when it begins with it and, for a row matched exactly, the
// name is not merely the start of a longer word ("+classpath" against "+classpath/a").
bool documents(const std::string& heading, const std::string& name, bool prefixMatch) {
  if (!heading.starts_with(name)) return false;
  if (prefixMatch || heading.size() == name.size()) return true;
  char next = heading[name.size()];
  return !std::isalnum(static_cast<unsigned char>(next)) && next != '/';
}

TEST(Manual, EveryDirectiveHasItsEntryAndEveryEntryADirective) {
  std::map<std::string, std::vector<std::string>> sections = readHeadings();
  ASSERT_TRUE(sections.contains("Directives")) << "no '## Directives' section in docs/configuration.md";
  const std::vector<std::string>& headings = sections["Directives"];

  size_t count = 0;
  const Directive* table = cfgGetDirectiveTable(count);
  ASSERT_EQ(count, 44u);
  for (size_t i = 0; i < count; ++i) {
    std::string name = table[i].name;
    bool found = false;
    for (const std::string& heading : headings) found = found || documents(heading, name + "`", false);
    EXPECT_TRUE(found) << "directive '" << name << "' is not documented";
  }
  for (const std::string& heading : headings) {
    bool known = false;
    for (size_t i = 0; i < count; ++i)
      known = known || documents(heading, std::string(table[i].name) + "`", false);
    EXPECT_TRUE(known) << "the manual documents a directive the reader does not know: " << heading;
  }
}

TEST(Manual, EveryOptionRowHasItsEntryAndEveryEntryARow) {
  std::map<std::string, std::vector<std::string>> sections = readHeadings();
  ASSERT_TRUE(sections.contains("Command-line options")) << "no '## Command-line options' section";
  const std::vector<std::string>& headings = sections["Command-line options"];

  size_t count = 0;
  const JavaOption* table = optGetOptionTable(count);
  ASSERT_EQ(count, 26u);
  for (size_t i = 0; i < count; ++i) {
    bool found = false;
    for (const std::string& heading : headings)
      found = found || documents(heading, table[i].name, table[i].prefixMatch);
    EXPECT_TRUE(found) << "option '" << table[i].name << "' is not documented";
  }
  for (const std::string& heading : headings) {
    bool known = false;
    for (size_t i = 0; i < count; ++i)
      known = known || documents(heading, table[i].name, table[i].prefixMatch);
    EXPECT_TRUE(known) << "the manual documents an option the parser does not know: " << heading;
  }
}

}  // namespace
