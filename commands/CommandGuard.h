// One command at a time in a window, and a close box that waits for the command to unwind.
//
// A command pumps the window's messages long before the operation frame locks the buttons
// (detection and identification come first), so a click on another command could start it on top
// of the running one, on the same link and state. And a window closed from inside such a pump would
// destroy the controls the command still writes to and leave its file open. Both windows keep
// these rules through one guard.
#pragma once

#include <utility>

#include "base/Operation.h"

namespace brevomat {

class CommandGuard {
 public:
  explicit CommandGuard(OperationFrame& frame) : frame_(frame) {}
  CommandGuard(const CommandGuard&) = delete;
  CommandGuard& operator=(const CommandGuard&) = delete;

  // Runs `handler` unless a command is already running (the click is then ignored; Stop, Exit,
  // Clear and the close box still work). When the close box was pressed meanwhile, `closeLater`
  // runs once the handler has unwound: it asks the window to close from its own event loop.
  template <typename Handler, typename CloseLater>
  void Run(Handler&& handler, CloseLater&& closeLater) {
    if (depth_ > 0) return;
    struct Depth {
      CommandGuard& guard;
      CloseLater& closeLater;
      ~Depth() {
        if (--guard.depth_ == 0 && guard.closePending_) {
          guard.closePending_ = false;
          closeLater();
        }
      }
    } depth{*this, closeLater};
    ++depth_;
    std::forward<Handler>(handler)();
  }

  bool Running() const { return depth_ > 0; }

  // The close box: true when the window may close now. During a command it asks the command to
  // stop and remembers to close once it has unwound.
  bool MayCloseNow() {
    if (depth_ == 0) return true;
    closePending_ = true;
    frame_.StopFlag = true;
    return false;
  }

  // After each pump of messages: a close that waits keeps asking the command to stop until it has
  // unwound (an operation that begins clears the flag).
  void KeepStopping() {
    if (closePending_) frame_.StopFlag = true;
  }

 private:
  OperationFrame& frame_;
  int depth_ = 0;
  bool closePending_ = false;
};

}  // namespace brevomat
