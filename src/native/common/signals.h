// The signals the launcher handles: the table, its installation around the VM's life,
// the handler and the worker that does the handling.
#pragma once

#include <csignal>
#include <cstdint>
#include <string_view>

// What a handled signal does, given by the launch sequence: stop for hang-up, interrupt
// and terminate (with the signal's number), the stack dump for quit.
struct SignalActions {
  void (*stop)(int32_t signal) = nullptr;
  void (*dumpStacks)() = nullptr;
};
void hmdSetSignalActions(const SignalActions& actions);

// Marks a signal of the table (hup, int, term, quit; any letter case) as ignored.
// False for a name the table does not have.
bool hmdSetSignalIgnore(std::string_view name);
// Whether the named signal was marked ignored.
bool hmdIsSignalIgnored(std::string_view name);
// Whether the launcher's handlers are in place (otherwise the VM's own take the stops).
bool hmdIsSignalTableInstalled();
// Back to the start state: dispositions restored, watcher thread joined, its pipe
// closed, no signal marked, no actions.
void hmdSignalsReset();

// Hooks around the VM's life. Each answers 0; a non-zero answer of the first two ends
// the launch with that code.
int32_t hmdBeforeCreateJVM();
int32_t hmdAfterCreateJVM();
int32_t hmdAfterDestoryJVM();

// The installed handler (signal context) and the body of the thread that handles one
// delivery; the thread re-arms the signal when it is done.
void hmdSignalHandler(int signal, siginfo_t* info, void* context);
int32_t hmdSignalHandlerThread(int32_t signal);
