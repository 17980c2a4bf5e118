// The end of the process has one owner. Every way the process ends or replaces itself
// goes through here: the entry's return, the VM's exit hook, the forced exit of the
// two-interrupt rule, a stop signal before the VM exists or after it has ended, and every
// re-execution. The first thread to get here ends the process; any other waits for it.
//
//   start --- own variables taken --- VM creation --- main --- main ended --- VM ended --- end
//   held       end, 128+n (every duty)  held, acted on   exit     stop; cancels   end, 128+n
//                                        once it is up   method   a restart
//   quit: dropped (traced) while no VM exists; the VM's or the table's while it does
// A stop is never only noted: one that nothing can act on yet is remembered
// (hmdRememberStop) and taken at the first moment that can (hmdTakeRememberedStop).
#pragma once

#include <signal.h>

#include <cstdint>
#include <string>
#include <vector>

// First thing at start: gives closed standard descriptors /dev/null, records the signal
// dispositions and mask the process was started with, and arms the end handlers. The
// stop signals stay held (a stop that crossed a re-execution included) until
// hmdAcceptStops, once the launcher's own variables (pid file, notification socket) are
// taken, so that such a stop ends the process with every end duty done.
void hmdProcessStart();
void hmdAcceptStops();
// The main thread's VM has been destroyed: from now on a stop signal ends the process.
void hmdVmEnded();
bool hmdVmHasEnded();
// The VM exists: a quit signal no longer ends the process.
void hmdVmCreated();

// Keeps the signal ignored for the rest of the process's life (+sig, nohup).
void hmdIgnoreFromNowOn(int signal);
// What a stop signal (hup, int, quit, term) gets when the launcher's table is not installed:
// ignored when it was so at start or marked since, else the end handler.
struct sigaction hmdEndAction(int signal);

// Files removed at every end of the process (exit, re-exec, a stop signal), as long as
// they are registered. Removal in signal context is safe.
void hmdRemoveAtEnd(const std::string& path);
void hmdKeepAtEnd(const std::string& path);
// Holds the stop signals on the calling thread while a file is made and registered.
class StopSignalsHeld {
 public:
  StopSignalsHeld();
  ~StopSignalsHeld();
  StopSignalsHeld(const StopSignalsHeld&) = delete;
  StopSignalsHeld& operator=(const StopSignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// Held across the VM's creation on the creating thread, and so on every thread the VM
// starts meanwhile: the stop signals not kept ignored are blocked and set to "ignore", so
// that a VM that installs handlers of its own neither takes them nor unblocks them while
// it starts; a stop that arrives waits. The release puts the dispositions back and
// returns the stop signal that arrived meanwhile (0: none), taken, before it unblocks.
void hmdHoldStopsForCreation();
int hmdReleaseStopsAfterCreation();

// A stop that nothing can act on yet (the application has not started): remembered until
// the first moment that can. Exactly one taker gets it; 0 when there is none.
void hmdRememberStop(int signal);
int hmdTakeRememberedStop();
// A stop from the end of main on: a restart is cancelled and the process ends instead,
// with 128 + the number of the first such signal.
void hmdNoteStop(int signal);

// The stop signals' handlers in place (the VM's or the launcher's table's) are wrapped so
// that a delivery is also noted (hmdNoteStop); a handler already wrapped stays as it is.
// Before the VM's destruction, which stops dispatching signals part-way through, and from
// main's call on where the VM's own handlers take the stops: the VM acts on a stop on a
// thread of its own, which the destruction can overtake, and such a stop must still cancel
// a restart. hmdVmEnded replaces the wrappers by the end handlers.
void hmdNoteStopsTakenByTheVm();

// Called in signal context when a stop signal ends the process, before the files are
// removed and _exit: for what the service manager must hear of every end. Must be
// async-signal-safe.
void hmdSetSignalEndNotice(void (*notice)(int32_t status));

// Called once, on the ending thread, just before the process ends with the status or
// is replaced by a new image (status -1). For work that has to happen at every end.
void hmdSetEndListener(void (*listener)(int32_t status, bool reexec));

// Makes the calling thread the one that ends the process. Returns only to that thread
// (again, if it already owns the end); any other caller waits until the process is gone.
void hmdClaimEnd();
// Waits, without end, for the thread that ends the process.
[[noreturn]] void hmdWaitForEnd();
// Ends the process with exit(status), once.
[[noreturn]] void hmdEndProcess(int32_t status);
// Ends the process as a stop signal does: the registered files removed, status 128 + the
// signal's number. Safe in signal context; if another thread already ends the process,
// it returns and lets that thread finish (a pending re-execution is cancelled).
void hmdEndBySignal(int signal);
// Whether a stop signal was noted while a thread owns the end: the owner's re-execution
// will end the process with it instead.
bool hmdStopNoted();
// A variable for the image the next re-execution starts, set in the list its environment
// is built from (this process's environment with these set), never with setenv: other
// threads of a VM may read the environment meanwhile. Only the thread that ends the
// process calls it (after hmdClaimEnd).
void hmdReexecVariable(const std::string& name, const std::string& value);
// The environment list the re-execution would give the new image now ("NAME=value").
std::vector<std::string> hmdReexecEnvironment();
// Replaces the process by the file with the argument vector, with the signal dispositions
// and mask the process was started with, and the environment built from this process's
// and the re-execution's variables. Returns the errno of a failed exec.
int hmdReexec(const char* file, char** argv);
// Removes the registered files; safe in signal context.
void hmdRemoveFilesAtEnd();

// Back to the start state, for tests.
void hmdProcessEndReset();
