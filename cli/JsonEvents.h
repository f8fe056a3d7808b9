// --json: the run as events on standard output, one JSON object a line, each with an "event" field:
//   {"event":"log","text":...}                       every line of the log
//   {"event":"status","text":...}                    the status label's text, whenever it changes
//   {"event":"progress","percent":N,"phase":...}     the progress bar, with the status it belongs to
//   {"event":"question","caption":...,"text":...,"answer":...}
//   {"event":"result","exit":N,"status":...,"cart_changed":B, and the command's figures}
// Text that is not valid UTF-8 (a file name in another encoding) is passed on with U+FFFD in place
// of the bytes that are not, so that every line parses; U+2028, U+2029 and the C1 controls (NEL)
// are written as \u escapes, so that no reader sees a line end inside a string.
#pragma once

#include <cstdio>

#include "cli/RunEvents.h"

namespace brevomat::cli {

class JsonEvents final : public RunListener {
 public:
  explicit JsonEvents(std::FILE* out) : out_(out) {}
  void OnLog(std::string_view text) override;
  void OnStatus(std::string_view text) override;
  void OnProgress(int percent, std::string_view phase) override;
  void OnQuestion(std::string_view caption, std::string_view text, std::string_view answer) override;
  void OnResult(const RunResult& result) override;
  // A line could not be written (the reader went away, a full disk).
  bool Lost() const { return lost_; }

 private:
  template <class Json>
  void Write(const Json& event);
  std::FILE* out_;
  bool lost_ = false;
};

// The result event's line alone, for a run that ends before the console exists (a usage error).
void WriteJsonResult(std::FILE* out, const RunResult& result);

}  // namespace brevomat::cli
