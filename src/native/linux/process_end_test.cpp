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
        hmdAcceptStops();
        raise(SIGINT);
      },
      testing::ExitedWithCode(130), "");
  EXPECT_FALSE(exists(again.path()));
}

// A stop that arrives before the launcher has taken its own variables waits for them: the
// file it registers meanwhile is removed, and the notice of the end is given.
TEST_F(ProcessEnd, AStopHeldFromTheStartEndsOnceTheVariablesAreTaken) {
  testsupport::TempFile registered("");
  EXPECT_EXIT(
      {
        hmdProcessStart();
        raise(SIGTERM);
        hmdRemoveAtEnd(registered.path());
        hmdSetSignalEndNotice([](int32_t) {});
        hmdAcceptStops();
        _exit(3);
      },
      testing::ExitedWithCode(143), "");
  EXPECT_FALSE(exists(registered.path()));
  // The notice runs before the end: here it ends the process itself with its own status.
  EXPECT_EXIT(
      {
        hmdProcessStart();
        hmdSetSignalEndNotice([](int32_t status) { _exit(status - 100); });
        hmdAcceptStops();
        raise(SIGHUP);
        _exit(3);
      },
      testing::ExitedWithCode(29), "");
}

// StopSignalsHeld and the creation hold keep a stop waiting; the creation hold hands it
// over when it is released, and a stop remembered is taken exactly once.
TEST_F(ProcessEnd, HeldStopsWaitAndTheCreationHoldHandsThemOver) {
  EXPECT_EXIT(
      {
        hmdProcessStart();
        hmdAcceptStops();
        {
          StopSignalsHeld held;
          raise(SIGTERM);
          if (hmdTakeRememberedStop() != 0) _exit(2);
        }
        _exit(3);
      },
      testing::ExitedWithCode(143), "");
  EXPECT_EXIT(
      {
        hmdProcessStart();
        hmdAcceptStops();
        hmdHoldStopsForCreation();
        raise(SIGINT);
        raise(SIGTERM);
        struct sigaction during {};
        sigaction(SIGTERM, nullptr, &during);
        if (during.sa_handler != SIG_IGN) _exit(2);
        const int taken = hmdReleaseStopsAfterCreation();
        raise(SIGQUIT);
        _exit(taken == SIGINT || taken == SIGTERM ? 3 : 4);
      },
      testing::ExitedWithCode(3), "");
  EXPECT_EXIT(
      {
        hmdProcessStart();
        hmdAcceptStops();
        raise(SIGTERM);
      },
      testing::ExitedWithCode(143), "")
      << "the release put the end handler back";
  EXPECT_EXIT(
      {
        hmdRememberStop(SIGHUP);
        hmdRememberStop(SIGTERM);
        const int first = hmdTakeRememberedStop();
        _exit(first == SIGHUP && hmdTakeRememberedStop() == 0 ? 3 : 4);
      },
      testing::ExitedWithCode(3), "");
}

TEST_F(ProcessEnd, QuitNeverEndsAndAnIgnoredSignalStaysIgnored) {
  EXPECT_EXIT(
      {
        hmdProcessStart();
        hmdAcceptStops();
        raise(SIGQUIT);
        hmdEndProcess(6);
      },
      testing::ExitedWithCode(6), "");
  EXPECT_EXIT(
      {
        hmdProcessStart();
        hmdAcceptStops();
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
  // Noted before anyone claimed the end (after main): the claim keeps it.
  EXPECT_EXIT(
      {
        hmdProcessStart();
        hmdNoteStop(SIGINT);
        reexecTrue();
      },
      testing::ExitedWithCode(130), "");
}

}  // namespace
