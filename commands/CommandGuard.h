// One command at a time in a window, and an ending (the close box, Exit) that waits for the
// command to unwind.
//
// A command pumps the window's messages long before the operation frame locks the buttons
// (detection and identification come first), so a click on another command could start it on top
// of the running one, on the same link and state. And a window closed, or a program ended, from
// inside such a pump would destroy the controls the command still writes to, leave its file open,
// or release the link while the command goes on using it. Both windows keep these rules through
// one guard.
#pragma once

#include <utility>

#include "base/Operation.h"

namespace brevomat {

class CommandGuard {
 public:
  // How the window is to end once the command has unwound. Exit outranks the close box: it is the
  // one that keeps the settings.
  enum class Ending { None, Close, Exit };

  explicit CommandGuard(OperationFrame& frame) : frame_(frame) {}
  CommandGuard(const CommandGuard&) = delete;
  CommandGuard& operator=(const CommandGuard&) = delete;

  // Runs `handler` unless a command is already running (the click is then ignored; Stop, Exit,
  // Clear and the close box still work). When an ending was asked for meanwhile, `end` runs with
  // it once the handler has unwound, also when it unwound by an exception.
  template <typename Handler, typename End>
  void Run(Handler&& handler, End&& end) {
    if (running_) return;
    running_ = true;
    try {
      std::forward<Handler>(handler)();
    } catch (...) {
      Unwound(end);
      throw;
    }
    Unwound(end);
  }

  bool Running() const { return running_; }

  // The close box or Exit: true when it may be carried out now. During a command it asks the
  // command to stop, as Stop does, and remembers the ending for when the command has unwound.
  bool MayEndNow(Ending ending) {
    if (!running_) return true;
    if (ending > pending_) pending_ = ending;
    frame_.StopFlag = true;
    return false;
  }

  // After each pump of messages: an ending that waits keeps asking the command to stop until it
  // has unwound (an operation that begins clears the flag).
  void KeepStopping() {
    if (pending_ != Ending::None) frame_.StopFlag = true;
  }

 private:
  template <typename End>
  void Unwound(End& end) {
    running_ = false;
    if (const Ending ending = std::exchange(pending_, Ending::None); ending != Ending::None) end(ending);
  }

  OperationFrame& frame_;
  bool running_ = false;
  Ending pending_ = Ending::None;
};

}  // namespace brevomat
