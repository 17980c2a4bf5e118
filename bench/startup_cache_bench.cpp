// Start-up caches: a server-like application that loads and initialises 3,000 classes of
// its own from four jars before its HTTP port (com.sun.net.httpserver, loopback) answers.
// Time from exec to the port's first answer, per installation (release 17 always, 25
// when installed), alternating in one run:
//
//   launcher   the launcher with startupcache and a warm cache
//   java       plain `java -cp` with the same class path and no cache
//   java_cache plain `java` given the launcher's cache file by hand
//
// and the first run (the launcher making the cache, with a fresh cache directory) against
// a start without one. Medians of BENCH_RUNS (default 10) runs; ratios are medians of the
// pairwise ratios; peak resident sizes (wait4) in KiB. The application's sources are
// generated and compiled when the program starts (javac of the build's JDK).
//
// BM_IdentityCheck: what a start with startupcache pays to know what an application of 300
// jars holds, in microseconds: the class path's entries taken from the option list and one
// stat each (identity_us), and, for a record that lists 300 files named by the jars'
// manifests, their stat and comparison (manifest_files_us).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "startup_cache.h"

namespace {

namespace fs = std::filesystem;
using benchsupport::cacheFile;
using benchsupport::median;
using benchsupport::setCounter;
using benchsupport::Start;

const std::string kBuildJdk = BENCH_JDK_HOME;
constexpr int kClasses = 3000;
constexpr int kJars = 4;

// Starts the server, waits for its port's first answer, asks it to stop, and reaps it.
Start measure(const std::string& program, const std::vector<std::string>& args,
              const std::vector<std::string>& env, int port) {
  return benchsupport::measure(
      program, args, env, port, "/", benchsupport::answered,
      [port](pid_t) { benchsupport::request(port, "/stop"); }, [](int status) { return status == 0; });
}

// The generated application, compiled and packed once: lib/*.jar under its root.
class Application {
 public:
  Application() {
    char pattern[] = "/tmp/cache-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    root_ = pattern;
    const std::string src = root_ + "/src";
    fs::create_directories(src + "/gen");
    fs::create_directories(root_ + "/lib");
    std::ofstream(src + "/gen/Part.java") << "package gen;\npublic interface Part { int handle(int x); }\n";
    for (int jar = 0; jar < kJars; ++jar) {
      fs::create_directories(src + "/gen/p" + std::to_string(jar));
    }
    // Every class has state, a static initialiser, an interface and a method called once.
    std::ofstream registry(src + "/gen/Registry.java");
    registry << "package gen;\npublic final class Registry {\n  public static long initialise() {\n    long "
                "sum = 0;\n";
    for (int i = 0; i < kClasses; ++i) {
      const std::string package = "gen.p" + std::to_string(i % kJars);
      const std::string name = "C" + std::to_string(i);
      std::ofstream(src + "/gen/p" + std::to_string(i % kJars) + "/" + name + ".java")
          << "package " << package << ";\n"
          << "public final class " << name << " implements gen.Part {\n"
          << "  private static final int[] TABLE = new int[16];\n"
          << "  private static final String NAME = \"" << name << "\".toLowerCase();\n"
          << "  static { for (int i = 0; i < TABLE.length; i++) TABLE[i] = i * " << i
          << " + NAME.length(); }\n"
          << "  private final int seed;\n"
          << "  public " << name << "(int seed) { this.seed = seed; }\n"
          << "  public int handle(int x) { return seed + TABLE[x & 15] + NAME.hashCode(); }\n"
          << "  public static int init() { return new " << name << "(" << i << ").handle(" << i << "); }\n"
          << "}\n";
      registry << "    sum += " << package << "." << name << ".init();\n";
    }
    registry << "    return sum;\n  }\n}\n";
    registry.close();
    std::ofstream(src + "/CacheServer.java")
        << "import com.sun.net.httpserver.HttpServer;\n"
        << "import java.net.InetSocketAddress;\n"
        << "import java.nio.charset.StandardCharsets;\n"
        << "public class CacheServer {\n"
        << "  public static void main(String[] args) throws Exception {\n"
        << "    long sum = gen.Registry.initialise();\n"
        << "    byte[] body = (\"ok \" + sum + \"\\n\").getBytes(StandardCharsets.UTF_8);\n"
        << "    HttpServer server = HttpServer.create(new InetSocketAddress(\"127.0.0.1\", "
           "Integer.parseInt(args[0])), 16);\n"
        << "    server.createContext(\"/\", exchange -> {\n"
        << "      boolean stop = exchange.getRequestURI().getPath().equals(\"/stop\");\n"
        << "      exchange.sendResponseHeaders(200, body.length);\n"
        << "      exchange.getResponseBody().write(body);\n"
        << "      exchange.close();\n"
        << "      if (stop) new Thread(() -> server.stop(0)).start();\n"
        << "    });\n"
        << "    server.start();\n"
        << "  }\n"
        << "}\n";
    const std::string classes = root_ + "/classes";
    std::string command = "find " + src + " -name '*.java' > " + root_ + "/sources && " + kBuildJdk +
                          "/bin/javac --release 17 -nowarn -d " + classes + " @" + root_ + "/sources";
    for (int jar = 0; jar < kJars; ++jar) {
      command += " && " + kBuildJdk + "/bin/jar cf " + root_ + "/lib/part" + std::to_string(jar) +
                 ".jar -C " + classes + " gen/p" + std::to_string(jar);
    }
    command += " && " + kBuildJdk + "/bin/jar cf " + root_ + "/lib/server.jar -C " + classes +
               " CacheServer.class -C " + classes + " gen/Part.class -C " + classes + " gen/Registry.class";
    ok_ = std::system(command.c_str()) == 0;
    for (int jar = 0; jar < kJars; ++jar) classPath_ += root_ + "/lib/part" + std::to_string(jar) + ".jar:";
    classPath_ += root_ + "/lib/server.jar";
  }
  ~Application() { fs::remove_all(root_); }
  bool ok() const { return ok_; }
  const std::string& root() const { return root_; }
  // The jars in the order addjars gives them (by name).
  const std::string& classPath() const { return classPath_; }

 private:
  std::string root_;
  std::string classPath_;
  bool ok_ = false;
};

Application& application() {
  static Application app;
  return app;
}

void BM_StartupCache(benchmark::State& state, const std::string& jdk) {
  if (!fs::exists(jdk + "/lib/server/libjvm.so")) {
    state.SkipWithError("installation not found");
    return;
  }
  Application& app = application();
  if (!app.ok()) {
    state.SkipWithError("the application did not build");
    return;
  }
  const std::string tree = app.root() + "/tree-" + fs::path(jdk).filename().string();
  fs::create_directories(tree + "/bin");
  const std::string launcher = tree + "/bin/server";
  fs::copy_file(LAUNCHER_BINARY, launcher, fs::copy_options::overwrite_existing);
  fs::permissions(launcher, fs::perms::owner_all);
  std::ofstream(tree + "/bin/server.config") << "javahome " << jdk << "\nmainclass CacheServer\naddjars "
                                             << app.root() << "/lib\nstartupcache ../cache\n";
  const std::vector<std::string> env = {"LD_LIBRARY_PATH=" + jdk + "/lib/server:" + jdk + "/lib",
                                        "LAUNCHER_ENV_CHECKED=true"};
  const std::string java = jdk + "/bin/java";
  // Below the ephemeral range, so that no client connection holds the port.
  int port = 21000 + static_cast<int>(::getpid() % 5000) * 2;
  // Each start gets a port of its own; the argument is made before the port is read.
  auto start = [&](const std::string& program, std::vector<std::string> args) {
    args.push_back(std::to_string(++port));
    return measure(program, args, env, port);
  };

  // First runs: a fresh cache directory each time, against a start without a cache.
  std::vector<double> firstAnswer, firstTotal, plainAnswerA, plainTotalA;
  for (int i = 0; i < 3; ++i) {
    fs::remove_all(tree + "/cache");
    Start made = start(launcher, {});
    Start plain = start(java, {"-cp", app.classPath(), "CacheServer"});
    if (!made.ok || !plain.ok || cacheFile(tree + "/cache").empty()) {
      state.SkipWithError("a first run failed");
      return;
    }
    firstAnswer.push_back(made.answerMs);
    firstTotal.push_back(made.totalMs);
    plainAnswerA.push_back(plain.answerMs);
    plainTotalA.push_back(plain.totalMs);
  }
  const std::string cache = cacheFile(tree + "/cache");
  const bool aot = cache.ends_with(".aot");
  const std::string byHand = (aot ? "-XX:AOTCache=" : "-XX:SharedArchiveFile=") + cache;

  benchsupport::Rotation rotation;
  for (int i = 0; i < benchsupport::runs(10); ++i) {
    if (!rotation.round(i, {[&] { return start(launcher, {}); },
                            [&] {
                              return start(java, {"-cp", app.classPath(), "CacheServer"});
                            },
                            [&] {
                              return start(java, {byHand, "-cp", app.classPath(), "CacheServer"});
                            }})) {
      state.SkipWithError("a start failed");
      return;
    }
  }
  if (cacheFile(tree + "/cache") != cache) {
    state.SkipWithError("the warm runs did not keep the cache");
    return;
  }
  for (auto _ : state) state.SetIterationTime(median(rotation.answerMs[0]) / 1e3);
  setCounter(state, "launcher_ms", median(rotation.answerMs[0]));
  setCounter(state, "java_ms", median(rotation.answerMs[1]));
  setCounter(state, "java_cache_ms", median(rotation.answerMs[2]));
  setCounter(state, "ratio_vs_java", median(rotation.ratio[1]));
  setCounter(state, "ratio_vs_java_cache", median(rotation.ratio[2]));
  setCounter(state, "first_answer_ms", median(firstAnswer));
  setCounter(state, "first_total_ms", median(firstTotal));
  setCounter(state, "plain_answer_ms", median(plainAnswerA));
  setCounter(state, "plain_total_ms", median(plainTotalA));
  setCounter(state, "launcher_rss_kib", median(rotation.rssKiB[0]));
  setCounter(state, "java_rss_kib", median(rotation.rssKiB[1]));
  setCounter(state, "java_cache_rss_kib", median(rotation.rssKiB[2]));
  setCounter(state, "cache_kib", static_cast<double>(fs::file_size(cache)) / 1024);
}

void BM_IdentityCheck(benchmark::State& state) {
  constexpr int kJarCount = 300;
  char pattern[] = "/tmp/cache-identity-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    state.SkipWithError("no temporary directory");
    return;
  }
  const std::string root = pattern;
  std::vector<std::string> jars;
  std::string classPath;
  for (int i = 0; i < kJarCount; ++i) {
    jars.push_back(root + "/lib-" + std::to_string(i) + ".jar");
    std::ofstream(jars.back()) << "jar " << i;
    classPath += (i == 0 ? "" : ":") + jars.back();
  }
  const std::vector<std::string> options = {"-Xmx256m", "-Djava.class.path=" + classPath, "-Dapp.name=bench"};
  const std::string record = jscDescribeFiles(jars);
  std::vector<double> identityUs, manifestUs;
  for (auto _ : state) {
    double t0 = benchsupport::nowMs();
    ContentIdentity identity = jscContentIdentity(jscContentEntries(options), 0);
    double t1 = benchsupport::nowMs();
    std::optional<std::string> changed = jscChangedFile(record);
    double t2 = benchsupport::nowMs();
    if (identity.fileBytes == 0 || changed) state.SkipWithError("the jars were not all seen");
    identityUs.push_back((t1 - t0) * 1e3);
    manifestUs.push_back((t2 - t1) * 1e3);
  }
  setCounter(state, "identity_us", median(identityUs));
  setCounter(state, "manifest_files_us", median(manifestUs));
  fs::remove_all(root);
}
BENCHMARK(BM_IdentityCheck)->Iterations(200)->Unit(benchmark::kMicrosecond);

BENCHMARK_CAPTURE(BM_StartupCache, release17, kBuildJdk)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_StartupCache, release25, std::string("/usr/lib/jvm/temurin-25-jdk-amd64"))
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
