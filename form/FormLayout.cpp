#include "form/FormLayout.h"

#include <stdexcept>

namespace brevomat {

const ControlEntry* FindControl(const FormEntry& form, std::string_view name) {
  for (const ControlEntry& control : form.controls)
    if (name == control.name) return &control;
  return nullptr;
}

const ControlEntry& ControlOf(const FormEntry& form, std::string_view name) {
  const ControlEntry* control = FindControl(form, name);
  if (control == nullptr) throw std::logic_error(std::string(form.name) + " has no " + std::string(name));
  return *control;
}

namespace {

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find(separator, start);
    parts.emplace_back(
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

}  // namespace

std::vector<FilterEntry> FilterEntries(std::string_view filter) {
  const std::vector<std::string> fields = Split(filter, '|');
  std::vector<FilterEntry> entries;
  // A name without its patterns (an odd last field) is no entry.
  for (std::size_t i = 0; i + 1 < fields.size(); i += 2)
    entries.push_back({fields[i], Split(fields[i + 1], ';')});
  return entries;
}

}  // namespace brevomat
