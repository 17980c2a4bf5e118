// Every configuration example of the README, the manual and the manual page is read by the
// launcher without error: an operator may copy any of them as it stands.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_fixture.h"

using e2e::AppTree;
using e2e::Env;

namespace {

const std::string kSourceDir = std::string(EXAMPLES_DIR) + "/..";

struct Example {
  std::string where;  // file:line of the block's first line
  std::string text;
};

// The directive names, from the manual's "### `name`" headings of its Directives section
// (a unit test holds these headings to the reader's table).
std::set<std::string> directiveNames() {
  std::set<std::string> names;
  std::istringstream in(e2e::readFile(kSourceDir + "/docs/configuration.md"));
  std::string line;
  bool inDirectives = false;
  while (std::getline(in, line)) {
    if (line.starts_with("## ")) inDirectives = line == "## Directives";
    if (inDirectives && line.starts_with("### `")) {
      std::string name = line.substr(5);
      names.insert(name.substr(0, name.find('`')));
    }
  }
  return names;
}

// A block is a configuration example when it is marked as one ("```config") or, unmarked,
// its first line that is not a comment begins with a directive.
bool isConfiguration(const std::string& text, const std::string& tag, const std::set<std::string>& directives) {
  if (tag == "config") return true;
  if (!tag.empty()) return false;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    return directives.contains(line.substr(start, line.find(' ', start) - start));
  }
  return false;
}

// The blocks of a documentation file that are configurations: Markdown's fenced blocks
// ("```" lines, the tag after the opening one passed on), or the manual page's ".nf" ...
// ".fi" blocks, whose roff escapes for '-' and '\' are undone.
std::vector<Example> examplesOf(const std::string& relative, const std::set<std::string>& directives) {
  const bool manPage = relative.ends_with(".1");
  auto opens = [&](const std::string& line) { return manPage ? line == ".nf" : line.starts_with("```"); };
  auto closes = [&](const std::string& line) { return manPage ? line == ".fi" : line.starts_with("```"); };
  std::vector<Example> examples;
  std::istringstream in(e2e::readFile(kSourceDir + "/" + relative));
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!opens(line)) continue;
    const std::string tag = manPage ? "" : line.substr(3);
    Example example{relative + ":" + std::to_string(number + 1), ""};
    while (std::getline(in, line) && !closes(line)) {
      ++number;
      if (manPage) {
        for (size_t at = line.find("\\-"); at != std::string::npos; at = line.find("\\-", at)) line.erase(at, 1);
        for (size_t at = line.find("\\e"); at != std::string::npos; at = line.find("\\e", at + 1))
          line.replace(at, 2, "\\");
      }
      example.text += line + "\n";
    }
    ++number;
    if (isConfiguration(example.text, tag, directives)) examples.push_back(example);
  }
  return examples;
}

// The executable jars an example's mainjar lines name below the tree, each a jar whose
// manifest names the example's class.
void makeMainJars(const AppTree& tree, const std::string& text) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.starts_with("mainjar ")) continue;
    std::string file = line.substr(8);
    for (const std::string& root : {std::string("$var(installRoot)/"), std::string("../")}) {
      if (file.starts_with(root)) file = tree.path(file.substr(root.size()));
    }
    if (!file.starts_with(tree.root())) continue;
    std::string manifest = tree.writeFile("manifest.txt", "Main-Class: com.example.Server\n");
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    e2e::RunResult made = e2e::runProgram(e2e::testJdkHome() + "/bin/jar",
                                          {"jar", "--create", "--file", file, "--manifest", manifest}, Env(), {});
    EXPECT_EQ(made.status, 0) << made.err;
  }
}

}  // namespace

TEST(Docs, EveryConfigurationExampleIsReadWithoutError) {
  const std::set<std::string> directives = directiveNames();
  ASSERT_GT(directives.size(), 30u);
  std::vector<Example> examples = examplesOf("README.md", directives);
  ASSERT_FALSE(examples.empty()) << "no configuration example in README.md";
  for (const char* manual : {"docs/configuration.md", "docs/troubleshooting.md"}) {
    for (Example& example : examplesOf(manual, directives)) examples.push_back(example);
  }
  std::vector<Example> page = examplesOf("docs/launcher.1", directives);
  ASSERT_FALSE(page.empty()) << "no configuration example in docs/launcher.1";
  examples.insert(examples.end(), page.begin(), page.end());

  for (const Example& example : examples) {
    SCOPED_TRACE(example.where + ":\n" + example.text);
    AppTree tree("server");
    tree.copyClasses();
    tree.makeDir("lib");
    makeMainJars(tree, example.text);
    // What an example leaves to the rest of its configuration: the Java home and a class.
    std::string config = example.text;
    if (config.find("\njavahome ") == std::string::npos && !config.starts_with("javahome "))
      config += "javahome " + e2e::testJdkHome() + "\n";
    if (config.find("mainclass ") == std::string::npos && config.find("mainjar ") == std::string::npos)
      config += "mainclass com.example.Server\n";
    tree.writeConfig(config);
    auto r = tree.run({"+javacmd"}, Env().set("JAVA_HOME", e2e::testJdkHome()));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    // A '#' after a directive is part of its argument, so a comment at the end of a line
    // would reach the VM's options.
    EXPECT_EQ(r.out.find(" #"), std::string::npos) << r.out;
  }
}
