// End-to-end tests with real framework services, built with Maven from bench/frameworks
// (skipped, with the reason, when Maven Central cannot be reached): a Spring Boot service
// started with mainjar from its extracted layout answers, stops on one SIGTERM with its
// graceful shutdown, makes and uses a start-up cache and runs the new code of a rebuild
// deployed over it; the OpenTelemetry agent, configured and in JAVA_TOOL_OPTIONS, starts
// with the cache on every installation; each service stops with its own graceful shutdown.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e_fixture.h"

using e2e::AppTree;
using e2e::Env;

namespace {

const std::string kBuilt = FRAMEWORKS_BUILD_DIR;
const std::string kFrameworkSources = std::string(EXAMPLES_DIR) + "/../bench/frameworks";

// Builds what names lists (bench/frameworks/build's names) with the greeting into
// kBuilt/greeting, once per build tree; test processes that run at once take turns. The
// reason to skip when it cannot be had, else empty.
std::string build(const std::string& names, const std::string& greeting) {
  std::filesystem::create_directories(kBuilt);
  int lock = ::open((kBuilt + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock < 0 || ::flock(lock, LOCK_EX) != 0) return "cannot lock " + kBuilt;
  const std::string out = kBuilt + "/" + greeting;
  // The builds are shared by the build trees of one checkout; sources that change make new ones.
  size_t sources = std::hash<std::string>{}(names);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(kFrameworkSources)) {
    if (entry.is_regular_file()) sources = sources * 31 + std::hash<std::string>{}(e2e::readFile(entry.path()));
  }
  const std::string stamp = out + "/.built " + names + " " + std::to_string(sources);
  std::string reason;
  if (!e2e::fileExists(stamp)) {
    std::string command = "FRAMEWORK_GREETING=" + greeting + " " + EXAMPLES_DIR +
                          "/../bench/frameworks/build " + out + " " + names + " >/dev/null";
    int status = std::system(command.c_str());
    if (WIFEXITED(status) && WEXITSTATUS(status) == 3) {
      reason = "Maven Central cannot be reached: the framework services cannot be built";
    } else if (status != 0) {
      reason = "FAILED";
      ADD_FAILURE() << "the framework build failed: " << command;
    } else {
      ::close(::open(stamp.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    }
  }
  ::close(lock);
  return reason;
}

// The body of GET path on the loopback port, or empty when nothing answered.
std::string get(int port, const std::string& path) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval limit{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  std::string answer;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    std::string text = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    if (::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size())) {
      char buffer[4096];
      for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        answer.append(buffer, static_cast<size_t>(n));
    }
  }
  ::close(fd);
  size_t body = answer.find("\r\n\r\n");
  return body == std::string::npos ? std::string() : answer.substr(body + 4);
}

// Polls the port until the child answers on path or ends; the answer.
std::string awaitAnswer(e2e::Child& child, int port, const std::string& path, int seconds = 120) {
  std::string body;
  child.waitUntil([&] { return !(body = get(port, path)).empty(); }, seconds);
  return body;
}

int freePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

// The Spring Boot service of the greeting, extracted as its documentation has it for
// class-data caches, into the tree's app directory (over what is there: a redeploy).
void deploySpring(const AppTree& tree, const std::string& greeting, const std::string& jdk) {
  e2e::RunResult extracted = e2e::runProgram(
      jdk + "/bin/java",
      {"java", "-Djarmode=tools", "-jar", kBuilt + "/" + greeting + "/spring-boot/greeting-spring.jar",
       "extract", "--force", "--destination", tree.path("app")},
      Env(), {});
  ASSERT_EQ(extracted.status, 0) << extracted.out << extracted.err;
}

}  // namespace

TEST(Framework, SpringBootStartsStopsGracefullyCachesAndRunsARedeploy) {
  if (std::string reason = build("spring-boot", "Hello"); !reason.empty()) GTEST_SKIP() << reason;
  if (std::string reason = build("spring-boot", "Howdy"); !reason.empty()) GTEST_SKIP() << reason;
  const std::string jdk = e2e::testJdkHome();
  AppTree tree("greeting");
  deploySpring(tree, "Hello", jdk);
  const std::string config = "javahome " + jdk + "\nmainjar ../app/greeting-spring.jar\nstartupcache ../cache\n";
  tree.writeConfig(config);
  e2e::RunOptions slow;
  slow.timeoutSeconds = 120;
  auto env = [](int port) { return Env().set("GREETING_PORT", std::to_string(port)).set("UTRACE", "-p"); };

  // The framework's exit-after-start switch is a training run: it makes the cache.
  e2e::RunResult trained = tree.run({"-Dspring.context.exit=onRefresh"}, env(freePort()), slow);
  EXPECT_EQ(trained.status, 0) << trained.err;
  EXPECT_TRUE(e2e::contains(trained.out, "Startup cache: making ")) << trained.out;
  EXPECT_TRUE(e2e::contains(trained.out, " is ready")) << trained.out;
  EXPECT_FALSE(e2e::contains(trained.err, "[warning]")) << trained.err;

  // The service uses it; one SIGTERM runs the graceful shutdown, with and without handleexit.
  for (bool handleExit : {false, true}) {
    tree.writeConfig(config + (handleExit ? "options handleexit\n" : ""));
    int port = freePort();
    e2e::Child child = tree.start({}, env(port));
    EXPECT_EQ(awaitAnswer(child, port, "/hello?name=you"), "Hello, you\n") << handleExit;
    EXPECT_EQ(get(port, "/actuator/health"), "{\"status\":\"UP\"}");
    child.signal(SIGTERM);
    e2e::RunResult ended = child.wait(120);
    EXPECT_EQ(ended.status, 143) << handleExit << ended.err;
    // handleexit changes the VM's options (it takes the stop signals), so it has a cache of its own.
    if (!handleExit) {
      EXPECT_TRUE(e2e::contains(ended.out, "Startup cache: using ")) << ended.out;
    }
    EXPECT_TRUE(e2e::contains(ended.out, "Commencing graceful shutdown")) << ended.out;
    EXPECT_TRUE(e2e::contains(ended.out, "Graceful shutdown complete")) << ended.out;
    EXPECT_FALSE(e2e::contains(ended.err, "[warning]")) << ended.err;
    EXPECT_EQ(ended.err.find("cleanup"), std::string::npos) << "a normal stop says nothing: " << ended.err;
  }

  // A new build deployed over the old one, under the same names, runs its own code.
  deploySpring(tree, "Howdy", jdk);
  int port = freePort();
  e2e::Child redeployed = tree.start({}, env(port));
  EXPECT_EQ(awaitAnswer(redeployed, port, "/hello?name=again"), "Howdy, again\n");
  redeployed.signal(SIGTERM);
  e2e::RunResult ended = redeployed.wait(120);
  EXPECT_EQ(ended.status, 143);
  EXPECT_FALSE(e2e::contains(ended.out, "Startup cache: using ")) << ended.out;
  EXPECT_FALSE(e2e::contains(ended.err, "[warning]")) << ended.err;
  EXPECT_FALSE(e2e::contains(ended.err, "[error]")) << ended.err;

  // The launcher's own training run waits until the service answers, then stops it.
  std::filesystem::remove_all(tree.path("cache"));
  port = freePort();
  tree.writeConfig(config + "readiness http " + std::to_string(port) + " /actuator/health\n");
  e2e::RunResult made = tree.run({"+makecache"}, env(port), slow);
  EXPECT_EQ(made.status, 0) << made.out << made.err;
  EXPECT_TRUE(e2e::contains(made.out, " is ready")) << made.out;
}

TEST(Framework, MonitoringAgentStartsWithTheCacheOnEveryInstallation) {
  if (std::string reason = build("otel-agent", "Hello"); !reason.empty()) GTEST_SKIP() << reason;
  const std::string agent = kBuilt + "/Hello/otel-agent/opentelemetry-javaagent.jar";
  // The agent reports to nobody; its own start-up line shows that it runs.
  Env env = Env()
                .set("OTEL_TRACES_EXPORTER", "none")
                .set("OTEL_METRICS_EXPORTER", "none")
                .set("OTEL_LOGS_EXPORTER", "none")
                .set("UTRACE", "-p");
  e2e::RunOptions slow;
  slow.timeoutSeconds = 120;
  for (const std::string& home : e2e::testInstallations()) {
    for (bool inToolOptions : {false, true}) {
      // A cache holds classes from jars only.
      AppTree tree;
      tree.makeDir("lib");
      e2e::RunResult packed = e2e::runProgram(
          e2e::testJdkHome() + "/bin/jar",
          {"jar", "--create", "--file", tree.path("lib/app.jar"), "-C", tree.copyClasses("classes"), "."},
          Env(), {});
      ASSERT_EQ(packed.status, 0) << packed.err;
      std::string config =
          "javahome " + home + "\nmainclass PrintArgs\naddpath ../lib/app.jar\nstartupcache ../cache\n";
      Env run = env;
      if (inToolOptions) {
        run.set("JAVA_TOOL_OPTIONS", "-javaagent:" + agent);
      } else {
        config += "vmparam -javaagent:" + agent + "\n";
      }
      tree.writeConfig(config);
      const std::string what = home + (inToolOptions ? " in JAVA_TOOL_OPTIONS" : " configured");
      for (int start = 0; start < 2; ++start) {
        e2e::RunResult result = tree.run({"hello"}, run, slow);
        EXPECT_EQ(result.status, 0) << what << "\n" << result.out << result.err;
        EXPECT_TRUE(e2e::hasLine(result.out, "arg=hello")) << what;
        EXPECT_TRUE(e2e::contains(result.err, "opentelemetry-javaagent - version: ")) << what << result.err;
        EXPECT_FALSE(e2e::contains(result.err, "[error]")) << what << result.err;
        EXPECT_FALSE(e2e::contains(result.err, "Error occurred during")) << what << result.err;
        EXPECT_FALSE(e2e::contains(result.err, "[warning]")) << what << result.err;
      }
    }
  }
}

// Each framework's own graceful shutdown runs on one SIGTERM, with and without handleexit,
// on every installation, with a start-up cache made at the first of those ends: Spring Boot
// from its extracted layout, Quarkus from the layout its documentation pairs with a cache,
// Micronaut from its executable jar. Each service's own line says its shutdown ran.
TEST(Framework, EachServiceStopsGracefullyOnOneSigtermOnEveryInstallation) {
  // One build per name: another test may be running the Spring Boot service built before.
  for (const char* name : {"spring-boot", "quarkus", "micronaut"}) {
    if (std::string reason = build(name, "Hello"); !reason.empty()) GTEST_SKIP() << reason;
  }
  struct Service {
    const char* name;
    std::string jar;  // relative to the tree's bin directory
    const char* shutDown;
  };
  const std::vector<Service> services = {
      {"spring-boot", "../app/greeting-spring.jar", "Graceful shutdown complete"},
      {"quarkus", kBuilt + "/Hello/quarkus/quarkus-aot/quarkus-run.jar", "greeting-quarkus stopped in "},
      {"micronaut", kBuilt + "/Hello/micronaut/greeting-micronaut.jar", "greeting: shut down"},
  };
  for (const std::string& jdk : e2e::testInstallations()) {
    for (const Service& service : services) {
      // The test above stops the Spring Boot service on the tests' own installation.
      if (std::string(service.name) == "spring-boot" && jdk == e2e::testJdkHome()) continue;
      AppTree tree("greeting");
      if (std::string(service.name) == "spring-boot") deploySpring(tree, "Hello", jdk);
      const std::string config = "javahome " + jdk + "\nmainjar " + service.jar + "\nstartupcache ../cache\n";
      for (bool handleExit : {false, true}) {
        SCOPED_TRACE(jdk + ", " + service.name + (handleExit ? ", handleexit" : ""));
        tree.writeConfig(config + (handleExit ? "options handleexit\n" : ""));
        int port = freePort();
        e2e::Child child = tree.start({}, Env().set("GREETING_PORT", std::to_string(port)).set("UTRACE", "-p"));
        EXPECT_EQ(awaitAnswer(child, port, "/hello?name=you"), "Hello, you\n");
        child.signal(SIGTERM);
        e2e::RunResult ended = child.wait(120);
        EXPECT_EQ(ended.status, 143) << ended.out << ended.err;
        EXPECT_TRUE(e2e::contains(ended.out + ended.err, service.shutDown)) << ended.out << ended.err;
        // The first stop makes the cache; handleexit, which changes the VM's options on some
        // releases, uses it or makes one of its own.
        EXPECT_TRUE(e2e::contains(ended.out, "Startup cache: making ") ||
                    (handleExit && e2e::contains(ended.out, "Startup cache: using ")))
            << ended.out;
        EXPECT_FALSE(e2e::contains(ended.err, "[warning]")) << ended.err;
        EXPECT_FALSE(e2e::contains(ended.err, "[error]")) << ended.err;
        EXPECT_EQ(ended.err.find("cleanup"), std::string::npos) << ended.err;
      }
    }
  }
}
