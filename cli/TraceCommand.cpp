#include "cli/TraceCommand.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/CliProgram.h"
#include "cli/RunEvents.h"
#include "trace/Check.h"
#include "trace/Decoder.h"
#include "trace/RecordReader.h"

namespace brevomat::cli {

namespace {

trace::Level LevelOf(TraceLevel level) {
  switch (level) {
    case TraceLevel::Cycles:
      return trace::Level::Cycles;
    case TraceLevel::Link:
      return trace::Level::Link;
    case TraceLevel::Cart:
      break;
  }
  return trace::Level::Cart;
}

bool Out(const std::string& line) {
  return std::fputs(line.c_str(), stdout) != EOF && std::fputc('\n', stdout) != EOF;
}

std::string Decoded(const trace::DecodedLine& line) {
  char head[48];
  if (line.seq == 0)
    std::snprintf(head, sizeof head, "%10s %12llu  ", "", static_cast<unsigned long long>(line.us));
  else
    std::snprintf(head, sizeof head, "%10llu %12llu  ", static_cast<unsigned long long>(line.seq),
                  static_cast<unsigned long long>(line.us));
  return head + line.text;
}

std::string MarkWord(record::Mark mark) {
  switch (mark) {
    case record::Mark::Begin:
      return "begin ";
    case record::Mark::End:
      return "end ";
    case record::Mark::Stopped:
      return "stopped: ";
    case record::Mark::Note:
      break;
  }
  return "";
}

nlohmann::ordered_json SummaryJson(const trace::Summary& s) {
  nlohmann::ordered_json commands = nlohmann::ordered_json::array();
  for (const trace::CommandSpan& c : s.commands)
    commands.push_back({{"name", c.name},
                        {"status", c.status},
                        {"link", c.link},
                        {"start_us", c.startUs},
                        {"end_us", c.endUs},
                        {"accesses", c.accesses},
                        {"ended", c.ended}});
  const trace::FlashCounts& f = s.flash;
  return {{"accesses", s.accesses},
          {"reads", s.reads},
          {"writes", s.writes},
          {"flash",
           {{"block-erase", f.blockErase},
            {"write-to-buffer", f.writeToBuffer},
            {"word-program", f.wordProgram},
            {"read-identifier", f.readIdentifier},
            {"cfi-query", f.cfiQuery},
            {"clear-status", f.clearStatus},
            {"read-array", f.readArray}}},
          {"commands", commands}};
}

int Check(const CliOptions& options) {
  const trace::CheckResult result = trace::CheckRecord(options.record);
  if (!result.opened) {
    Complain("cannot read the record " + options.record + ": " + result.error);
    return kExitFailed;
  }
  bool written = true;
  if (options.json) {
    nlohmann::ordered_json j = {{"agrees", result.agrees},
                                {"accesses", result.accesses},
                                {"compared", result.compared},
                                {"unknown", result.unknown}};
    if (!result.agrees)
      j["first"] = {{"seq", result.first.seq},
                    {"time_us", result.first.us},
                    {"line", trace::RawLine(result.first)},
                    {"model", result.model}};
    if (result.cutShort) j["cut_short"] = result.problem;
    written = Out(j.dump());
  } else {
    for (const std::string& line : trace::CheckReport(result)) written = Out(line) && written;
  }
  if (std::fflush(stdout) != 0 || !written) {
    Complain("the check could not be written to standard output");
    return kExitFailed;
  }
  return result.agrees ? kExitOk : kExitFailed;
}

}  // namespace

int RunTraceCommand(const CliOptions& options) {
  if (options.traceCheck) return Check(options);
  trace::RecordReader reader;
  std::string error;
  if (!reader.Open(options.record, error)) {
    Complain("cannot read the record " + options.record + ": " + error);
    return kExitFailed;
  }
  bool written = true;
  const bool decoded = !options.json && !options.traceRaw;
  const bool raw = !options.json && options.traceRaw;
  if (decoded)
    for (const auto& [name, value] : reader.Header()) written = Out(name + ": " + value) && written;
  trace::Decoder decoder(LevelOf(options.traceLevel), [&written, decoded](const trace::DecodedLine& line) {
    if (decoded) written = Out(Decoded(line)) && written;
  });
  trace::Event event;
  while (written && reader.Next(event)) {
    if (raw)
      written = Out(event.isMark ? "# " + MarkWord(event.mark) + event.text : trace::RawLine(event.access));
    decoder.Feed(event);
  }
  decoder.Finish();
  if (options.json) written = Out(SummaryJson(decoder.summary()).dump()) && written;
  if (std::fflush(stdout) != 0 || !written) {
    Complain("the decoded record could not be written to standard output");
    return kExitFailed;
  }
  if (reader.CutShort()) Say("trace: " + reader.Problem() + "; decoded up to there");
  return kExitOk;
}

}  // namespace brevomat::cli
