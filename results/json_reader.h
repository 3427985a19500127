// A small JSON reader for the run exports that the comparison of two runs reads back.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velotrax::results {

struct JsonValue {
  enum class Kind { null, boolean, number, string, array, object };
  Kind kind = Kind::null;
  bool boolean = false;
  double number = 0;
  std::string text;              // a string's UTF-8 bytes
  std::vector<JsonValue> items;  // an array's values
  struct Member;
  std::vector<Member> members;  // an object's, in order

  // The member of that name, or nullptr (also for a value that is no object).
  const JsonValue* Find(std::string_view name) const;
};

struct JsonValue::Member {
  std::string name;
  JsonValue value;
};

// Parses a whole document; throws EResultsError saying where it is broken.
JsonValue ParseJson(std::string_view text);

}  // namespace velotrax::results
