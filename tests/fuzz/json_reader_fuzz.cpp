// The JSON reader of velotrax-cli compare against the grammar: it takes exactly the texts the
// grammar allows (nested at most 64 deep), reads each to the value the grammar gives, and
// refuses every other text with its own error, never another exception or a crash.
#include <cstdint>
#include <cstdio>
#include <string>

#include "results/errors.h"
#include "results/json_reader.h"
#include "tests/fuzz/reference_models.h"

using namespace velotrax;
using reference::Check;

namespace {

std::string Named(const std::string& text) {
  return "s" + std::to_string(text.size()) + ":" + text;
}

// The value in the model's canonical spelling.
std::string Canonical(const results::JsonValue& value) {
  using Kind = results::JsonValue::Kind;
  std::string out;
  switch (value.kind) {
    case Kind::null:
      return "n";
    case Kind::boolean:
      return value.boolean ? "t" : "f";
    case Kind::number:
      out.resize(40);
      out.resize(
          static_cast<std::size_t>(std::snprintf(out.data(), out.size(), "d%.17g", value.number)));
      return out;
    case Kind::string:
      return Named(value.text);
    case Kind::array:
      for (const auto& item : value.items) out += (out.empty() ? "" : ",") + Canonical(item);
      return "[" + out + "]";
    case Kind::object:
      for (const auto& member : value.members) {
        out += (out.empty() ? "" : ",") + Named(member.name) + ":" + Canonical(member.value);
      }
      return "{" + out + "}";
  }
  return "?";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::optional<std::string> expected = reference::JsonModel::Read(text, 64);
  try {
    const results::JsonValue value = results::ParseJson(text);
    Check(expected.has_value(), "the reader took a text that is not JSON", text);
    Check(Canonical(value) == *expected, "the reader read another value than the grammar", text);
  } catch (const results::EResultsError& e) {
    Check(!expected.has_value(), "the reader refused a JSON text", text);
    Check(std::string(e.what()).starts_with("not a JSON document: "), "refusal message", e.what());
  }
  return 0;
}
