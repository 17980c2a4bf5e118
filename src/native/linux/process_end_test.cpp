// Tests of the end of the process: the files removed at every end, the status a stop
// signal ends with, and the one owner of the end. Each end runs in a death test's child.
#include "process_end.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "test_support.h"

namespace {

class ProcessEnd : public testing::Test {
 protected:
  void SetUp() override { hmdProcessEndReset(); }
  void TearDown() override { hmdProcessEndReset(); }
};

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

void reexecTrue() {
  char name[] = "true";
  char* argv[] = {name, nullptr};
  hmdReexec("/bin/true", argv);
}

TEST_F(ProcessEnd, RegisteredFilesGoAtEveryEndAndKeptOnesStay) {
  testsupport::TempFile removed("");
  testsupport::TempFile kept("");
  hmdRemoveAtEnd(removed.path());
  hmdRemoveAtEnd(kept.path());
  hmdKeepAtEnd(kept.path());
  // By a stop signal, by exit, and by a signal delivered before any end handler exists.
  EXPECT_EXIT(hmdEndBySignal(SIGTERM), testing::ExitedWithCode(143), "");
  EXPECT_FALSE(exists(removed.path()));
  EXPECT_TRUE(exists(kept.path()));

  testsupport::TempFile again("");
  hmdRemoveAtEnd(again.path());
  EXPECT_EXIT(hmdEndProcess(7), testing::ExitedWithCode(7), "");
  EXPECT_TRUE(exists(again.path())) << "exit alone leaves removal to the exit handler";
  EXPECT_EXIT(
      {
        hmdProcessStart();
        raise(SIGINT);
      },
      testing::ExitedWithCode(130), "");
  EXPECT_FALSE(exists(again.path()));
}

TEST_F(ProcessEnd, QuitEndsOnlyBeforeTheVMAndAnIgnoredSignalStaysIgnored) {
  EXPECT_EXIT(
      {
        hmdProcessStart();
        raise(SIGQUIT);
      },
      testing::ExitedWithCode(131), "");
  EXPECT_EXIT(
      {
        hmdProcessStart();
        hmdVmCreated();
        raise(SIGQUIT);
        hmdIgnoreFromNowOn(SIGHUP);
        raise(SIGHUP);
        hmdVmEnded();
        raise(SIGHUP);
        raise(SIGQUIT);
        hmdEndProcess(5);
      },
      testing::ExitedWithCode(5), "");
}

TEST_F(ProcessEnd, AStopSignalDuringAnExitIsNotedAndCancelsAReexecution) {
  // The owner ends with its own status; a stop signal noted meanwhile turns a re-execution
  // into the signal's end.
  EXPECT_EXIT(
      {
        hmdClaimEnd();
        hmdEndBySignal(SIGTERM);
        hmdEndProcess(4);
      },
      testing::ExitedWithCode(4), "");
  EXPECT_EXIT(
      {
        hmdProcessStart();
        hmdClaimEnd();
        hmdEndBySignal(SIGHUP);
        reexecTrue();
      },
      testing::ExitedWithCode(129), "");
}

}  // namespace
