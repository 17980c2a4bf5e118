// Real framework services (bench/frameworks: Spring Boot, Quarkus, Micronaut, built with
// Maven when the program starts). Time from exec to the first HTTP 200 of GET /hello, per
// service and installation (release 17 always, 25 when installed), alternating in one run:
//
//   launcher    the launcher with mainjar and startupcache, its cache warm
//   java_jar    `java -jar` on the framework's usual artifact, no cache
//   java_cache  `java` with the cache the framework's documentation recommends, made by
//               hand once: a training run with -XX:ArchiveClassesAtExit (17) or
//               -XX:AOTCacheOutput (25), then -XX:SharedArchiveFile or -XX:AOTCache
//
// Spring Boot's fat jar keeps its classes in nested jars, which no cache can hold; its
// documentation has the jar extracted first (-Djarmode=tools extract) and trains with
// -Dspring.context.exit=onRefresh. The launcher and java_cache run that extracted layout,
// java_jar the fat jar. Quarkus's usual layout loads the application through a class loader
// of its own, which no cache holds; its documentation pairs a cache with its aot-jar layout,
// a flat class path, which the launcher and java_cache run. Micronaut runs its usual
// artifact everywhere. Training runs without an exit switch are stopped with SIGTERM once
// they answer.
//
// Also the first run (the launcher making its cache, in a fresh directory) and the peak
// resident size at the first answer. Medians of BENCH_RUNS (default 7) runs; ratios are
// medians of the pairwise ratios. BENCH_FRAMEWORKS=spring-boot,quarkus limits the services.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

namespace fs = std::filesystem;
using benchsupport::cacheFile;
using benchsupport::median;
using benchsupport::setCounter;
using benchsupport::Start;

const std::string kRelease17 = BENCH_JDK_HOME;
const std::string kRelease25 = "/usr/lib/jvm/temurin-25-jdk-amd64";
const std::string kBuilt = std::string(BENCH_BINARY_DIR) + "/frameworks";

struct Service {
  const char* name;
  std::string artifact;          // what java -jar runs, below the build's output
  std::string cacheable;         // what the launcher and the hand-made cache run
  std::string extraction;        // how the cacheable layout is made from the artifact, if at all
  const char* trainingProperty;  // the framework's exit-after-start switch, or nullptr
};

const std::vector<Service>& services() {
  static const std::vector<Service> table = {
      {.name = "spring-boot",
       .artifact = "spring-boot/greeting-spring.jar",
       .cacheable = "spring-boot/extracted/greeting-spring.jar",
       .extraction = "-Djarmode=tools -jar spring-boot/greeting-spring.jar extract --force --destination "
                     "spring-boot/extracted",
       .trainingProperty = "-Dspring.context.exit=onRefresh"},
      {.name = "quarkus",
       .artifact = "quarkus/quarkus-app/quarkus-run.jar",
       .cacheable = "quarkus/quarkus-aot/quarkus-run.jar",
       .extraction = "",
       .trainingProperty = nullptr},
      {.name = "micronaut",
       .artifact = "micronaut/greeting-micronaut.jar",
       .cacheable = "micronaut/greeting-micronaut.jar",
       .extraction = "",
       .trainingProperty = nullptr},
  };
  return table;
}

// Builds the services once; the reason when they cannot be had.
const std::string& buildFailure() {
  static const std::string failure = [] {
    std::string command = std::string(BENCH_FRAMEWORKS_DIR) + "/build " + kBuilt;
    int status = std::system(command.c_str());
    if (status == 0) return std::string();
    if (WIFEXITED(status) && WEXITSTATUS(status) == 3) return std::string("Maven Central cannot be reached");
    return std::string("the framework services did not build");
  }();
  return failure;
}

bool wanted(const char* name) {
  const char* list = std::getenv("BENCH_FRAMEWORKS");
  if (list == nullptr) return true;
  std::string text = std::string(",") + list + ",";
  return text.find(std::string(",") + name + ",") != std::string::npos;
}

void BM_Framework(benchmark::State& state, const Service& service, const std::string& jdk) {
  if (!wanted(service.name)) {
    state.SkipWithError("not in BENCH_FRAMEWORKS");
    return;
  }
  if (!fs::exists(jdk + "/lib/server/libjvm.so")) {
    state.SkipWithError("installation not found");
    return;
  }
  if (!buildFailure().empty()) {
    state.SkipWithError(buildFailure().c_str());
    return;
  }
  const std::string java = jdk + "/bin/java";
  const bool aot = jdk == kRelease25;
  if (!service.extraction.empty() &&
      std::system(("cd " + kBuilt + " && " + java + " " + service.extraction + " >/dev/null 2>&1").c_str()) !=
          0) {
    state.SkipWithError("the extraction failed");
    return;
  }
  const std::string artifact = kBuilt + "/" + service.artifact;
  const std::string cacheable = kBuilt + "/" + service.cacheable;
  const std::string tree = kBuilt + "/tree-" + service.name + "-" + fs::path(jdk).filename().string();
  fs::remove_all(tree);
  fs::create_directories(tree + "/bin");
  const std::string launcher = tree + "/bin/greeting";
  fs::copy_file(LAUNCHER_BINARY, launcher, fs::copy_options::overwrite_existing);
  fs::permissions(launcher, fs::perms::owner_all);
  std::ofstream(tree + "/bin/greeting.config")
      << "javahome " << jdk << "\nmainjar " << cacheable << "\nstartupcache ../cache\n";

  // Below the ephemeral range, so that no client connection holds the port; one per start.
  int port = 23000 + static_cast<int>(::getpid() % 3000) * 2;
  auto start = [&](const std::string& program, const std::vector<std::string>& args) {
    ++port;
    std::vector<std::string> env = {"GREETING_PORT=" + std::to_string(port)};
    if (program == launcher) {
      env.push_back("LD_LIBRARY_PATH=" + jdk + "/lib/server:" + jdk + "/lib");
      env.push_back("LAUNCHER_ENV_CHECKED=true");
    }
    return benchsupport::measure(
        program, args, env, port, "/hello", benchsupport::answeredOk, [](pid_t pid) { ::kill(pid, SIGTERM); },
        [](int status) { return status == 0 || status == 143; });
  };

  // The hand-made cache: one training run.
  const std::string byHandFile = tree + (aot ? "/by-hand.aot" : "/by-hand.jsa");
  std::vector<std::string> training = {aot ? "-XX:AOTCacheOutput=" + byHandFile
                                           : "-XX:ArchiveClassesAtExit=" + byHandFile};
  if (service.trainingProperty != nullptr) {
    training.push_back(service.trainingProperty);
    training.insert(training.end(), {"-jar", cacheable});
    pid_t pid = benchsupport::spawn(java, training, {"GREETING_PORT=" + std::to_string(++port)});
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) {
      state.SkipWithError("the training run did not start");
      return;
    }
  } else {
    training.insert(training.end(), {"-jar", cacheable});
    start(java, training);
  }
  if (!fs::exists(byHandFile)) {
    state.SkipWithError("the training run made no cache");
    return;
  }

  // The launcher's first run, against a start without a cache.
  fs::remove_all(tree + "/cache");
  Start first = start(launcher, {});
  Start plain = start(java, {"-jar", artifact});
  const std::string cache = cacheFile(tree + "/cache");
  if (!first.ok || !plain.ok || cache.empty()) {
    state.SkipWithError("a first run failed or made no cache");
    return;
  }

  const std::string useByHand = (aot ? "-XX:AOTCache=" : "-XX:SharedArchiveFile=") + byHandFile;
  benchsupport::Rotation rotation;
  for (int i = 0; i < benchsupport::runs(7); ++i) {
    if (!rotation.round(i, {[&] { return start(launcher, {}); },
                            [&] {
                              return start(java, {"-jar", artifact});
                            },
                            [&] {
                              return start(java, {useByHand, "-jar", cacheable});
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
  setCounter(state, "java_jar_ms", median(rotation.answerMs[1]));
  setCounter(state, "java_cache_ms", median(rotation.answerMs[2]));
  setCounter(state, "ratio_vs_jar", median(rotation.ratio[1]));
  setCounter(state, "ratio_vs_cache", median(rotation.ratio[2]));
  setCounter(state, "first_answer_ms", first.answerMs);
  setCounter(state, "first_total_ms", first.totalMs);
  setCounter(state, "plain_answer_ms", plain.answerMs);
  setCounter(state, "launcher_rss_kib", median(rotation.rssKiB[0]));
  setCounter(state, "java_jar_rss_kib", median(rotation.rssKiB[1]));
  setCounter(state, "java_cache_rss_kib", median(rotation.rssKiB[2]));
}

const int kRegistered = [] {
  for (const Service& service : services()) {
    for (const auto& [release, jdk] :
         std::map<std::string, std::string>{{"17", kRelease17}, {"25", kRelease25}}) {
      benchmark::RegisterBenchmark(
          (std::string("BM_Framework/") + service.name + "/release" + release).c_str(),
          [&service, jdk](benchmark::State& state) { BM_Framework(state, service, jdk); })
          ->Iterations(1)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
    }
  }
  return 0;
}();

}  // namespace

BENCHMARK_MAIN();
