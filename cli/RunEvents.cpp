#include "cli/RunEvents.h"

#include <cstdio>

#include "base/Operation.h"

namespace brevomat::cli {

void RunFigures::Set(std::string_view name, FigureValue value) {
  for (auto& item : items_) {
    if (item.first == name) {
      item.second = std::move(value);
      return;
    }
  }
  items_.emplace_back(std::string(name), std::move(value));
}

void RunFigures::Report(std::string_view name, FigureValue value, std::FILE* stream) {
  Say(std::string(name) + ": " + FigureText(value), stream);
  Set(name, std::move(value));
}

const FigureValue* RunFigures::Find(std::string_view name) const {
  for (const auto& item : items_)
    if (item.first == name) return &item.second;
  return nullptr;
}

std::string FigureText(const FigureValue& value) {
  struct Text {
    std::string operator()(const std::string& s) const { return s; }
    std::string operator()(std::int64_t n) const { return std::to_string(n); }
    std::string operator()(double d) const {
      char text[32];
      std::snprintf(text, sizeof text, "%.3f", d);
      return text;
    }
    std::string operator()(bool b) const { return b ? "yes" : "no"; }
    std::string operator()(const FigureList& list) const {
      std::string text;
      for (const std::string& t : list.texts) text += (text.empty() ? "" : "; ") + t;
      for (const auto& record : list.records) {
        std::string fields;
        for (const auto& [key, value] : record)
          fields += (fields.empty() ? "" : " ") + key + "=" +
                    (value.index() == 0 ? std::get<0>(value) : std::to_string(std::get<1>(value)));
        text += (text.empty() ? "" : "; ") + fields;
      }
      return text;
    }
  };
  return std::visit(Text{}, value);
}

namespace {
std::vector<std::string>& ComplaintList() {
  static std::vector<std::string> list;
  return list;
}
}  // namespace

void Say(std::string_view line, std::FILE* stream) {
  const std::string text = PrintableLine(line) + "\n";
  std::fwrite(text.data(), 1, text.size(), stream);
}

void Complain(const std::string& message) {
  Say("brevomat-cli: " + message);
  ComplaintList().push_back(message);
}

void ComplainLines(const std::string& message) {
  std::size_t start = 0;
  for (std::size_t end; (end = message.find('\n', start)) != std::string::npos; start = end + 1)
    Say((start == 0 ? "brevomat-cli: " : "") + message.substr(start, end - start));
  Say((start == 0 ? "brevomat-cli: " : "") + message.substr(start));
  ComplaintList().push_back(message);
}

const std::vector<std::string>& Complaints() { return ComplaintList(); }

}  // namespace brevomat::cli
