#include "cli/JsonEvents.h"

#include <nlohmann/json.hpp>
#include <string>
#include <type_traits>

namespace brevomat::cli {

namespace {

using nlohmann::ordered_json;

ordered_json Event(const char* name) { return ordered_json{{"event", name}}; }

ordered_json ListJson(const FigureList& list) {
  ordered_json array = ordered_json::array();
  if (!list.ofRecords) {
    for (const std::string& text : list.texts) array.push_back(text);
    return array;
  }
  for (const auto& record : list.records) {
    ordered_json object = ordered_json::object();
    for (const auto& [key, value] : record)
      std::visit([&object, &key](const auto& v) { object[key] = v; }, value);
    array.push_back(object);
  }
  return array;
}

ordered_json ResultEvent(const RunResult& result) {
  ordered_json event = Event("result");
  event["exit"] = result.exit;
  event["status"] = result.status;
  event["cart_changed"] = result.cartChanged;
  if (!Complaints().empty()) event["messages"] = Complaints();
  if (result.figures != nullptr) {
    for (const auto& figure : result.figures->Items()) {
      const std::string& name = figure.first;
      std::visit(
          [&event, &name](const auto& v) {
            if constexpr (std::is_same_v<std::decay_t<decltype(v)>, FigureList>)
              event[name] = ListJson(v);
            else
              event[name] = v;
          },
          figure.second);
    }
  }
  return event;
}

// The library writes U+2028, U+2029 and the C1 controls (NEL among them) as they are, which JSON
// allows; but a reader that splits lines on them (a log viewer, JavaScript before ES2019) would see
// a line end inside a string. They become \u escapes. The dump is valid UTF-8 (bytes that were not
// are U+FFFD by then) with nothing but ASCII outside its strings, so these byte sequences are
// always those characters inside a string.
std::string EscapeLineBreakers(const std::string& dumped) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(dumped.size());
  for (std::size_t i = 0; i < dumped.size(); ++i) {
    const auto c = static_cast<unsigned char>(dumped[i]);
    const auto next = i + 1 < dumped.size() ? static_cast<unsigned char>(dumped[i + 1]) : 0;
    const auto third = i + 2 < dumped.size() ? static_cast<unsigned char>(dumped[i + 2]) : 0;
    if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
      text += "\\u00";
      text += kHex[next >> 4];
      text += kHex[next & 15];
      i += 1;
    } else if (c == 0xE2 && next == 0x80 && (third == 0xA8 || third == 0xA9)) {
      text += third == 0xA8 ? "\\u2028" : "\\u2029";
      i += 2;
    } else {
      text += static_cast<char>(c);
    }
  }
  return text;
}

bool WriteLine(std::FILE* out, const ordered_json& event) {
  const std::string line =
      EscapeLineBreakers(event.dump(-1, ' ', false, ordered_json::error_handler_t::replace)) + "\n";
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
