// What a run of brevomat-cli reports besides the window's own log: the events that --json and
// --log pass on, and the figures its result carries.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace brevomat::cli {

// A list in a result: texts (the doctor's advice), or records of named texts and numbers (its
// checks, the lines it found at fault).
using FigureField = std::pair<std::string, std::variant<std::string, std::int64_t>>;
struct FigureList {
  std::vector<std::string> texts;
  std::vector<std::vector<FigureField>> records;
  bool ofRecords = false;
};

// A figure's value: text (a checksum), a whole number (a byte count), a number with a fraction
// (seconds), yes/no, or a list.
using FigureValue = std::variant<std::string, std::int64_t, double, bool, FigureList>;

// The figures a command leaves for its result ("crc32", "sha1", "modelled_seconds" ...), in the
// order they were first set. Names are lower case with underscores, so that a script finds them
// as JSON keys; setting a name again replaces its value.
class RunFigures {
 public:
  void Set(std::string_view name, FigureValue value);
  const FigureValue* Find(std::string_view name) const;
  const std::vector<std::pair<std::string, FigureValue>>& Items() const { return items_; }
  // Sets the figure and says it on `stream` as "name: value", as the program reports its figures
  // on standard error (a backup's "crc32: f225a268").
  void Report(std::string_view name, FigureValue value, std::FILE* stream = stderr);

 private:
  std::vector<std::pair<std::string, FigureValue>> items_;
};

// The value as a person reads it: the text itself, decimal digits, three decimals, "yes"/"no".
std::string FigureText(const FigureValue& value);

// Writes `line` and a newline on `stream` (standard error), with any control character in it escaped
// as the log escapes it: a name from outside cannot print a line of its own there.
void Say(std::string_view line, std::FILE* stream = stderr);

// Says on standard error what went wrong and why, as "brevomat-cli: MESSAGE". The run keeps every
// such message for its result, so that a script reads the reasons without parsing standard error.
void Complain(const std::string& message);
// The same for a message of several lines that the program composed itself (the port access
// advice): each line is escaped on its own, the lines after the first stand without the prefix.
void ComplainLines(const std::string& message);
const std::vector<std::string>& Complaints();

// The end of a run, as the result event and the run log's last lines give it.
struct RunResult {
  int exit = 0;
  std::string status;        // the last status line's text
  bool cartChanged = false;  // an erase, program or save write reached the cart
  const RunFigures* figures = nullptr;
};

// Hears everything the console shows, in the order it happens. The console calls every listener
// it was given; each writes it where its option says.
class RunListener {
 public:
  virtual ~RunListener() = default;
  virtual void OnLog(std::string_view text) = 0;
  virtual void OnStatus(std::string_view text) = 0;
  // The progress bar moved (or the phase changed): percent 0..100 of the phase, named by the status.
  virtual void OnProgress(int percent, std::string_view phase) = 0;
  // A question or a dialog and how it was answered ("Yes", "No", "64M", "Bank 2, 32K").
  virtual void OnQuestion(std::string_view caption, std::string_view text, std::string_view answer) = 0;
  virtual void OnResult(const RunResult& result) = 0;
};

}  // namespace brevomat::cli
