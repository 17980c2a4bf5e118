// The end of the process has one owner. Every way the process ends or replaces itself
// goes through here: the entry's return, the VM's exit hook, the forced exit of the
// two-interrupt rule, a stop signal before the VM exists or after it has ended, and every
// re-execution. The first thread to get here ends the process; any other waits for it.
//
//   start ------- VM created ------- VM ended ------- end (exit, re-exec or signal)
//   stop signals: end, 128+n   VM or launcher table   end, 128+n (quit: nothing)
#pragma once

#include <signal.h>

#include <cstdint>
#include <string>

// First thing at start: gives closed standard descriptors /dev/null, records the signal
// dispositions and mask the process was started with, and arms the end handlers.
void hmdProcessStart();
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
// Replaces the process by the file with the argument vector, with the signal dispositions
// and mask the process was started with. Returns the errno of a failed exec.
int hmdReexec(const char* file, char** argv);
// Removes the registered files; safe in signal context.
void hmdRemoveFilesAtEnd();

// Back to the start state, for tests.
void hmdProcessEndReset();
