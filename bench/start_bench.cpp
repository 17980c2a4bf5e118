// Whole-process starts through the launcher, each measured against what it competes with:
//
//   StartVsJava/complete    hello through the launcher with a complete LD_LIBRARY_PATH,
//                           alternating with `java -cp` of the same class
//   StartVsJava/reexec      the same without the library path, so the launcher executes
//                           itself once more
//   ReExec                  the same start with and without the re-exec, alternating
//   OwnPart                 +javacmd with a 20-line configuration (exec, configuration,
//                           discovery, loading libjvm.so) against a program that only
//                           loads libjvm.so with the same flags
//   Restart                 System.exit with the restart code to the next generation's
//                           main, against a fresh start to main
//   AddJars/N               start to main with addjars over N jars
//   SharedArchive           start to exit of an application that does some work at start
//                           with a class-data archive made by -XX:ArchiveClassesAtExit,
//                           against the same start without it
//
// Each benchmark runs its processes BENCH_RUNS times (default 30) in alternation and
// reports medians: times in milliseconds, peak resident sizes (wait4) in KiB, and the
// median of the pairwise ratios. The reported time of a benchmark is the median of its
// first measurement.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

const std::string kJdk = BENCH_JDK_HOME;
const std::string kClasses = BENCH_PROBE_JAR;
const std::string kJava = kJdk + "/bin/java";
const std::string kCompletePath = "LD_LIBRARY_PATH=" + kJdk + "/lib/server:" + kJdk + "/lib";

int runs() {
  const char* value = std::getenv("BENCH_RUNS");
  int n = value != nullptr ? std::atoi(value) : 0;
  return n > 0 ? n : 30;
}

int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// One finished process: wall time from spawn to reaping, peak resident size, its output.
struct Process {
  bool ok = false;
  int64_t spawnedNs = 0;
  double ms = 0;
  long rssKiB = 0;
  std::string out;
};

// An environment as a block of "NAME=value" strings.
class Environment {
 public:
  explicit Environment(std::vector<std::string> variables) : variables_(std::move(variables)) {
    variables_.insert(variables_.begin(), {"PATH=/usr/local/bin:/usr/bin:/bin", "LANG=C"});
    for (std::string& variable : variables_) pointers_.push_back(variable.data());
    pointers_.push_back(nullptr);
  }
  char** get() { return pointers_.data(); }

 private:
  std::vector<std::string> variables_;
  std::vector<char*> pointers_;
};

Process run(const std::string& program, std::vector<std::string> args, Environment& env) {
  Process result;
  int out[2];
  if (pipe(out) != 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, out[1]);
  args.insert(args.begin(), program);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  result.spawnedNs = nowNs();
  int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), env.get());
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  char buffer[65536];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
    result.out.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  if (spawned != 0) return result;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return result;
  result.ms = static_cast<double>(nowNs() - result.spawnedNs) / 1e6;
  result.rssKiB = usage.ru_maxrss;
  result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return result;
}

// The n-th value (from 0) printed on a line "<word> <nanoTime>", or -1.
int64_t stamp(const std::string& out, const std::string& word, int n = 0) {
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind(word + " ", 0) == 0 && n-- == 0) return std::stoll(line.substr(word.size() + 1));
  }
  return -1;
}

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t middle = values.size() / 2;
  return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// An application tree, bin/app with its configuration, removed at the end.
class Tree {
 public:
  explicit Tree(const std::string& config, int jars = 0) {
    char pattern[] = "/tmp/start-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    root_ = pattern;
    fs::create_directories(root_ + "/bin");
    fs::copy_file(LAUNCHER_BINARY, launcher());
    fs::permissions(launcher(), fs::perms::owner_all);
    if (jars > 0) fs::create_directories(root_ + "/lib");
    // Each jar an empty but valid archive: only its end-of-directory record.
    const std::string emptyZip = std::string("PK\x05\x06", 4) + std::string(18, '\0');
    for (int i = 0; i < jars; ++i) {
      char name[64];
      std::snprintf(name, sizeof name, "/lib/%c-lib%05d.jar", 'a' + (i * 7919) % 26, (i * 104729) % 100000);
      std::ofstream(root_ + name, std::ios::binary) << emptyZip;
    }
    std::ofstream(root_ + "/bin/app.config") << config;
  }
  ~Tree() { fs::remove_all(root_); }
  std::string launcher() const { return root_ + "/bin/app"; }
  std::string path(const std::string& relative) const { return root_ + "/" + relative; }

 private:
  std::string root_;
};

std::string helloConfig() {
  return "javahome " + kJdk + "\nmainclass StartProbe\naddpath " + kClasses + "\napparg hello\n";
}

void report(benchmark::State& state, const std::vector<double>& first) {
  for (auto _ : state) state.SetIterationTime(median(first) / 1e3);
}

void setCounter(benchmark::State& state, const char* name, double value) {
  state.counters[name] = benchmark::Counter(value);
}

// The launcher and java, alternating which goes first.
void BM_StartVsJava(benchmark::State& state) {
  const bool complete = state.range(0) == 1;
  Tree tree(helloConfig());
  std::vector<std::string> variables;
  if (complete) variables = {kCompletePath, "LAUNCHER_ENV_CHECKED=true"};
  Environment env(variables);
  std::vector<double> launcherMs, javaMs, ratios, launcherRss, javaRss;
  for (int i = 0; i < runs(); ++i) {
    Process a, b;
    if (i % 2 == 0) {
      a = run(tree.launcher(), {}, env);
      b = run(kJava, {"-cp", kClasses, "StartProbe", "hello"}, env);
    } else {
      b = run(kJava, {"-cp", kClasses, "StartProbe", "hello"}, env);
      a = run(tree.launcher(), {}, env);
    }
    if (!a.ok || !b.ok || stamp(a.out, "main") < 0) {
      state.SkipWithError("a start failed");
      return;
    }
    launcherMs.push_back(a.ms);
    javaMs.push_back(b.ms);
    ratios.push_back(a.ms / b.ms);
    launcherRss.push_back(static_cast<double>(a.rssKiB));
    javaRss.push_back(static_cast<double>(b.rssKiB));
  }
  report(state, launcherMs);
  setCounter(state, "launcher_ms", median(launcherMs));
  setCounter(state, "java_ms", median(javaMs));
  setCounter(state, "ratio", median(ratios));
  setCounter(state, "launcher_rss_kib", median(launcherRss));
  setCounter(state, "java_rss_kib", median(javaRss));
}
BENCHMARK(BM_StartVsJava)
    ->ArgName("complete_path")
    ->Arg(1)
    ->Arg(0)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The one re-exec: the same start without and with a complete library path, alternating.
void BM_ReExec(benchmark::State& state) {
  Tree tree(helloConfig());
  Environment bare({});
  Environment complete({kCompletePath, "LAUNCHER_ENV_CHECKED=true"});
  std::vector<double> reexecMs, directMs, costs;
  for (int i = 0; i < runs(); ++i) {
    Process a = run(tree.launcher(), {}, bare);
    Process b = run(tree.launcher(), {}, complete);
    if (!a.ok || !b.ok) {
      state.SkipWithError("a start failed");
      return;
    }
    reexecMs.push_back(a.ms);
    directMs.push_back(b.ms);
    costs.push_back(a.ms - b.ms);
  }
  report(state, costs);
  setCounter(state, "with_reexec_ms", median(reexecMs));
  setCounter(state, "without_ms", median(directMs));
  setCounter(state, "cost_ms", median(costs));
}
BENCHMARK(BM_ReExec)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The launcher up to the point of creating a VM, against loading libjvm.so alone.
void BM_OwnPart(benchmark::State& state) {
  std::string config =
      "# twenty directives, as a real application might have\n" + helloConfig() +
      "vmmemmax 64m\nvmparam -Xss1m\nvmparam -XX:+UseSerialGC\nvmparam -XX:TieredStopAtLevel=1\n"
      "vmprop app.name=bench\nvmprop app.mode=production\nvmprop app.home=$var(installRoot)\n"
      "vmprop sun.java.command=StartProbe\nset logs=$var(installRoot)/logs\nvmprop app.logs=$var(logs)\n"
      "copyenv HOME\nrestartonexit 3\nusageonexit 2\noptions handleexit\nexport APP_MODE=bench\n"
      "apparg --quiet\n";
  Tree tree(config);
  Environment env({kCompletePath, "LAUNCHER_ENV_CHECKED=true"});
  std::vector<double> launcherMs, probeMs, ratios;
  for (int i = 0; i < runs(); ++i) {
    Process a = run(tree.launcher(), {"+javacmd"}, env);
    Process b = run(JVM_DLOPEN_PROBE, {}, env);
    if (!a.ok || !b.ok) {
      state.SkipWithError("a run failed");
      return;
    }
    launcherMs.push_back(a.ms);
    probeMs.push_back(b.ms);
    ratios.push_back(a.ms / b.ms);
  }
  report(state, launcherMs);
  setCounter(state, "launcher_ms", median(launcherMs));
  setCounter(state, "dlopen_only_ms", median(probeMs));
  setCounter(state, "ratio", median(ratios));
}
BENCHMARK(BM_OwnPart)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// From System.exit(3) in one generation to main in the next, against spawn to main.
void BM_Restart(benchmark::State& state) {
  Tree tree("");
  std::ofstream(tree.path("bin/app.config"))
      << "javahome " << kJdk << "\nmainclass StartProbe\naddpath " << kClasses
      << "\nrestartonexit 3\napparg restart\napparg " << tree.path("marker") << "\n";
  Environment env({kCompletePath, "LAUNCHER_ENV_CHECKED=true"});
  std::vector<double> restartMs, freshMs, ratios;
  for (int i = 0; i < runs(); ++i) {
    Process p = run(tree.launcher(), {}, env);
    int64_t firstMain = stamp(p.out, "main");
    int64_t exitCall = stamp(p.out, "exit");
    int64_t secondMain = stamp(p.out, "main", 1);
    if (!p.ok || firstMain < 0 || exitCall < 0 || secondMain < 0) {
      state.SkipWithError("the restart did not happen");
      return;
    }
    restartMs.push_back(static_cast<double>(secondMain - exitCall) / 1e6);
    freshMs.push_back(static_cast<double>(firstMain - p.spawnedNs) / 1e6);
    ratios.push_back(restartMs.back() / freshMs.back());
  }
  report(state, restartMs);
  setCounter(state, "exit_to_main_ms", median(restartMs));
  setCounter(state, "spawn_to_main_ms", median(freshMs));
  setCounter(state, "ratio", median(ratios));
}
BENCHMARK(BM_Restart)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Start to main over many jars; the ratio of the two sizes is the scale figure.
void BM_AddJars(benchmark::State& state) {
  std::string config =
      "javahome " + kJdk + "\nmainclass StartProbe\naddpath " + kClasses + "\naddjars ../lib\napparg hello\n";
  Tree small(config, 1000);
  Tree large(config, 10000);
  Environment env({kCompletePath, "LAUNCHER_ENV_CHECKED=true"});
  std::vector<double> smallMs, largeMs, ratios;
  for (int i = 0; i < runs(); ++i) {
    Process a = run(small.launcher(), {}, env);
    Process b = run(large.launcher(), {}, env);
    if (!a.ok || !b.ok || stamp(a.out, "main") < 0 || stamp(b.out, "main") < 0) {
      state.SkipWithError("a start failed");
      return;
    }
    smallMs.push_back(static_cast<double>(stamp(a.out, "main") - a.spawnedNs) / 1e6);
    largeMs.push_back(static_cast<double>(stamp(b.out, "main") - b.spawnedNs) / 1e6);
    ratios.push_back(largeMs.back() / smallMs.back());
  }
  report(state, largeMs);
  setCounter(state, "jars_1000_ms", median(smallMs));
  setCounter(state, "jars_10000_ms", median(largeMs));
  setCounter(state, "ratio", median(ratios));
}
BENCHMARK(BM_AddJars)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// An application archive on release 17: made once, then used on every start.
void BM_SharedArchive(benchmark::State& state) {
  Tree tree("javahome " + kJdk + "\nmainclass StartProbe\naddpath " + kClasses + "\napparg work\n");
  Environment env({kCompletePath, "LAUNCHER_ENV_CHECKED=true"});
  const std::string archive = tree.path("app.jsa");
  if (!run(tree.launcher(), {"-XX:ArchiveClassesAtExit=" + archive}, env).ok || !fs::exists(archive)) {
    state.SkipWithError("no archive made");
    return;
  }
  std::vector<double> withMs, withoutMs, ratios;
  for (int i = 0; i < runs(); ++i) {
    Process a = run(tree.launcher(), {"-XX:SharedArchiveFile=" + archive}, env);
    Process b = run(tree.launcher(), {}, env);
    if (!a.ok || !b.ok) {
      state.SkipWithError("a start failed");
      return;
    }
    withMs.push_back(a.ms);
    withoutMs.push_back(b.ms);
    ratios.push_back(a.ms / b.ms);
  }
  report(state, withMs);
  setCounter(state, "with_archive_ms", median(withMs));
  setCounter(state, "without_ms", median(withoutMs));
  setCounter(state, "ratio", median(ratios));
}
BENCHMARK(BM_SharedArchive)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
