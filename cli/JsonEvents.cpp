#include "cli/JsonEvents.h"

#include <nlohmann/json.hpp>
#include <string>

namespace brevomat::cli {

namespace {

using nlohmann::ordered_json;

ordered_json Event(const char* name) { return ordered_json{{"event", name}}; }

ordered_json ResultEvent(const RunResult& result) {
  ordered_json event = Event("result");
  event["exit"] = result.exit;
  event["status"] = result.status;
  event["cart_changed"] = result.cartChanged;
  if (!Complaints().empty()) event["messages"] = Complaints();
  if (result.figures != nullptr) {
    for (const auto& figure : result.figures->Items()) {
      const std::string& name = figure.first;
      std::visit([&event, &name](const auto& v) { event[name] = v; }, figure.second);
    }
  }
  return event;
}

bool WriteLine(std::FILE* out, const ordered_json& event) {
  const std::string line = event.dump(-1, ' ', false, ordered_json::error_handler_t::replace) + "\n";
  return std::fwrite(line.data(), 1, line.size(), out) == line.size() && std::fflush(out) == 0;
}

}  // namespace

template <class Json>
void JsonEvents::Write(const Json& event) {
  if (!WriteLine(out_, event)) lost_ = true;
}

void JsonEvents::OnLog(std::string_view text) {
  ordered_json event = Event("log");
  event["text"] = text;
  Write(event);
}

void JsonEvents::OnStatus(std::string_view text) {
  ordered_json event = Event("status");
  event["text"] = text;
  Write(event);
}

void JsonEvents::OnProgress(int percent, std::string_view phase) {
  ordered_json event = Event("progress");
  event["percent"] = percent;
  event["phase"] = phase;
  Write(event);
}

void JsonEvents::OnQuestion(std::string_view caption, std::string_view text, std::string_view answer) {
  ordered_json event = Event("question");
  event["caption"] = caption;
  event["text"] = text;
  event["answer"] = answer;
  Write(event);
}

void JsonEvents::OnResult(const RunResult& result) { Write(ResultEvent(result)); }

void WriteJsonResult(std::FILE* out, const RunResult& result) { WriteLine(out, ResultEvent(result)); }

}  // namespace brevomat::cli
