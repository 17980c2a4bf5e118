// Reading configurations: jar directory scans with the class path merge, and a long
// configuration of properties and variables.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "config_options.h"
#include "config_reader.h"

namespace {

namespace fs = std::filesystem;

// One generated tree per size, built once and removed at exit.
class Trees {
 public:
  ~Trees() {
    for (const auto& [size, dir] : dirs_) fs::remove_all(dir);
  }

  // A directory with `jars` empty jar files (names in no particular order) and a
  // configuration "addjars <dir>/lib" beside it; the configuration's name.
  const std::string& jarConfig(int jars) {
    auto found = configs_.find(jars);
    if (found != configs_.end()) return found->second;
    std::string dir = makeDir();
    fs::create_directory(dir + "/lib");
    for (int i = 0; i < jars; ++i) {
      char name[64];
      std::snprintf(name, sizeof name, "/lib/%c-lib%05d.jar", 'a' + (i * 7919) % 26, (i * 104729) % 100000);
      std::ofstream(dir + name);
    }
    std::string config = dir + "/jars.config";
    std::ofstream(config) << "mainclass com.example.Server\naddjars " << dir << "/lib\n";
    dirs_[jars] = dir;
    return configs_[jars] = config;
  }

  // A configuration of `lines` lines, alternating 'set' and 'vmprop' lines that use
  // the variables.
  const std::string& propertyConfig(int lines) {
    auto found = configs_.find(-lines);
    if (found != configs_.end()) return found->second;
    std::string dir = makeDir();
    std::string config = dir + "/props.config";
    std::ofstream out(config);
    for (int i = 0; i < lines / 2; ++i) {
      out << "set v" << i << "=value" << i << "\n";
      out << "vmprop launcher.bench." << i << "=$var(v" << i << ")\n";
    }
    dirs_[-lines] = dir;
    return configs_[-lines] = config;
  }

 private:
  static std::string makeDir() {
    char pattern[] = "/tmp/config-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    return pattern;
  }
  std::map<int, std::string> dirs_;
  std::map<int, std::string> configs_;
};

Trees trees;

// cfgInit, read the file, merge the class path, cfgTerm: one launch's configuration work.
void readConfiguration(benchmark::State& state, const std::string& config) {
  size_t length = 0;
  for (auto _ : state) {
    cfgInit();
    if (!cfgProcessConfigFile(config)) {
      state.SkipWithError("configuration failed");
      cfgTerm();
      break;
    }
    std::optional<std::string> classPath = cfgGetClassPath();
    cfgFinalizeJVMOptions();
    length = classPath ? classPath->size() : cfgGetJavaVMOptionsCount();
    benchmark::DoNotOptimize(length);
    cfgTerm();
  }
  state.counters["result_size"] = static_cast<double>(length);
}

void BM_AddJars(benchmark::State& state) {
  readConfiguration(state, trees.jarConfig(static_cast<int>(state.range(0))));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_AddJars)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

void BM_PropertyLines(benchmark::State& state) {
  readConfiguration(state, trees.propertyConfig(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_PropertyLines)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
