// The whole launcher printing its +javacmd script for a configuration whose class path
// comes from a directory of many jars: configuration, discovery, option assembly, class
// path merge and the script, in one process per iteration.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

const std::string kJdk = BENCH_JDK_HOME;

// One application tree per jar count: bin/app, bin/app.config and lib/ with the jars.
class Trees {
 public:
  ~Trees() {
    for (const auto& [jars, root] : roots_) fs::remove_all(root);
  }

  // The launcher of the tree with `jars` jar files; built on first use.
  std::string launcher(int jars) {
    auto found = roots_.find(jars);
    if (found != roots_.end()) return found->second + "/bin/app";
    char pattern[] = "/tmp/javacmd-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    std::string root = pattern;
    fs::create_directories(root + "/bin");
    fs::create_directories(root + "/lib");
    fs::copy_file(LAUNCHER_BINARY, root + "/bin/app");
    fs::permissions(root + "/bin/app", fs::perms::owner_all);
    for (int i = 0; i < jars; ++i) {
      char name[64];
      std::snprintf(name, sizeof name, "/lib/%c-lib%05d.jar", 'a' + (i * 7919) % 26, (i * 104729) % 100000);
      std::ofstream(root + name);
    }
    std::ofstream(root + "/bin/app.config")
        << "javahome " << kJdk << "\nmainclass com.example.Server\naddjars ../lib\nvmparam -Xmx256m\n";
    roots_[jars] = root;
    return root + "/bin/app";
  }

 private:
  std::map<int, std::string> roots_;
};

Trees trees;

// Runs the launcher with +javacmd and returns the size of what it printed, or -1.
long runJavaCmd(const std::string& launcher, char** env) {
  int out[2];
  if (pipe(out) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, out[1]);
  std::string javacmd = "+javacmd";
  char* argv[] = {const_cast<char*>(launcher.c_str()), javacmd.data(), nullptr};
  pid_t pid = 0;
  int spawned = posix_spawn(&pid, launcher.c_str(), &actions, nullptr, argv, env);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  long size = 0;
  char buffer[65536];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) size += n;
  close(out[0]);
  if (spawned != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return size;
}

void BM_JavaCmdAddJars(benchmark::State& state) {
  std::string launcher = trees.launcher(static_cast<int>(state.range(0)));
  // The library path is already complete (and, for root, marked as checked), so the
  // launcher does not execute itself again.
  std::vector<std::string> variables = {"PATH=/usr/local/bin:/usr/bin:/bin", "LANG=C",
                                        "LD_LIBRARY_PATH=" + kJdk + "/lib/server:" + kJdk + "/lib",
                                        "LAUNCHER_ENV_CHECKED=true"};
  std::vector<char*> env;
  for (std::string& variable : variables) env.push_back(variable.data());
  env.push_back(nullptr);

  long size = 0;
  for (auto _ : state) {
    size = runJavaCmd(launcher, env.data());
    if (size <= 0) {
      state.SkipWithError("the launcher failed");
      break;
    }
  }
  state.counters["script_bytes"] = static_cast<double>(size);
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_JavaCmdAddJars)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
