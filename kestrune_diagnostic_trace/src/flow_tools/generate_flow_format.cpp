// generate_flow_format schema|dict: the JSON Schema of the flow file and the
// fuzzer's dictionary, written from the format's table to standard output.
// tools/generate_flow_format.sh rewrites the committed files with it; the test
// test_flow_format_files fails when they differ from what it writes.
#include <algorithm>
#include <cstdint>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "kestrune_diagnostic_trace/flow_format.hpp"

namespace {

using Json = nlohmann::ordered_json;
using kestrune::trace::FieldValue;
using kestrune::trace::FlowFileKey;
using kestrune::trace::KeyPlace;
using kestrune::trace::KeyType;

std::string Digits(char from, char to) {
  if (from == to) {
    return std::string(1, from);
  }
  return from == '0' && to == '9' ? "[0-9]" : std::string("[") + from + "-" + to + "]";
}

/// A regular expression for the decimal numbers from `low` to `high`, both
/// written with `low.size()` digits.
std::string SameLength(const std::string& low, const std::string& high) {
  if (low.empty()) {
    return "";
  }
  if (low.front() == high.front()) {
    return low.front() + SameLength(low.substr(1), high.substr(1));
  }
  const std::string rest_low = low.substr(1);
  const std::string rest_high = high.substr(1);
  const std::string zeros(rest_low.size(), '0');
  const std::string nines(rest_low.size(), '9');
  const std::string any = rest_low.empty() ? "" : "[0-9]{" + std::to_string(rest_low.size()) + "}";
  std::vector<std::string> parts;
  char middle_from = low.front();
  char middle_to = high.front();
  if (rest_low != zeros) {
    parts.push_back(low.front() + SameLength(rest_low, nines));
    ++middle_from;
  }
  if (rest_high != nines) {
    --middle_to;
  }
  if (middle_from <= middle_to) {
    parts.push_back(Digits(middle_from, middle_to) + any);
  }
  if (rest_high != nines) {
    parts.push_back(high.front() + SameLength(zeros, rest_high));
  }
  std::string joined;
  for (const auto& part : parts) {
    joined += (joined.empty() ? "" : "|") + part;
  }
  return parts.size() == 1 ? joined : "(?:" + joined + ")";
}

/// The decimal numbers from `low` to `high`, as yaml-cpp reads a quoted one.
std::string RangePattern(uint64_t low, uint64_t high) {
  std::vector<std::string> parts;
  for (uint64_t first = low; first <= high;) {
    const std::string digits = std::to_string(first);
    uint64_t last = 9;
    for (size_t i = 1; i < digits.size(); ++i) {
      last = last * 10 + 9;
    }
    last = std::min(last, high);
    parts.push_back(SameLength(digits, std::to_string(last)));
    first = last + 1;
  }
  std::string joined;
  for (const auto& part : parts) {
    joined += (joined.empty() ? "" : "|") + part;
  }
  return "^(?:" + joined + ")$";
}

Json DefaultOf(const FieldValue& value) {
  return std::visit([](const auto& v) { return Json(v); }, value);
}

Json ValueSchema(const FlowFileKey& key) {
  switch (key.type) {
    case KeyType::kString:
      return key.non_empty ? Json{{"allOf", {{{"$ref", "#/definitions/text"}}, {{"minLength", 1}}}}}
                           : Json{{"$ref", "#/definitions/text"}};
    case KeyType::kBool:
      return {{"$ref", "#/definitions/boolean"}};
    case KeyType::kFloat:
      return {{"$ref", "#/definitions/number"}};
    case KeyType::kUint32:
      return {{"anyOf",
               {{{"type", "integer"}, {"minimum", key.min}, {"maximum", key.max}},
                {{"type", "string"}, {"pattern", RangePattern(key.min, key.max)}}}}};
    default:
      return {};
  }
}

Json Properties(KeyPlace place);

Json KeySchema(const FlowFileKey& key) {
  Json schema{{"description", key.meaning}};
  if (key.default_words != nullptr) {
    schema["description"] = std::string(key.meaning) + " Default: " + key.default_words + ".";
  } else if (key.type != KeyType::kFlows && key.type != KeyType::kPoints &&
             key.type != KeyType::kSection) {
    schema["default"] = DefaultOf(key.default_value);
  }
  switch (key.type) {
    case KeyType::kFlows:
      schema["type"] = "array";
      schema["items"] = {{"$ref", "#/definitions/flow"}};
      break;
    case KeyType::kPoints:
      schema["type"] = "array";
      schema["items"] = {{"$ref", "#/definitions/point"}};
      break;
    case KeyType::kSection:
      schema["type"] = {"object", "null"};
      schema["additionalProperties"] = false;
      schema["properties"] = Properties(KeyPlace::kDiagnostics);
      break;
    default:
      schema.update(ValueSchema(key));
  }
  return schema;
}

Json Properties(KeyPlace place) {
  Json properties = Json::object();
  for (const FlowFileKey& key : kestrune::trace::FlowFileKeys()) {
    if (key.place != place) {
      continue;
    }
    properties[key.name] = KeySchema(key);
    std::string before = key.name;
    for (const auto& spelling : key.other_spellings) {
      const std::string when =
          " read when " + before + (before == key.name ? " is" : " are") + " absent";
      Json other{
          {"description", spelling.misspelt
                              ? "A misspelling of " + std::string(key.name) +
                                    " kept for old files," + when + "; write " + key.name + "."
                              : "Older spelling of " + std::string(key.name) + "," + when + "."}};
      other.update(ValueSchema(key));
      properties[spelling.name] = other;
      before += std::string(" and ") + spelling.name;
    }
  }
  return properties;
}

Json Required(KeyPlace place) {
  Json required = Json::array();
  for (const FlowFileKey& key : kestrune::trace::FlowFileKeys()) {
    if (key.place == place && key.required) {
      required.push_back(key.name);
    }
  }
  return required;
}

Json Entry(KeyPlace place) {
  return {{"type", "object"},
          {"required", Required(place)},
          {"additionalProperties", false},
          {"properties", Properties(place)}};
}

std::string Schema() {
  Json schema{
      {"$schema", "http://json-schema.org/draft-07/schema#"},
      {"title", "Kestrune flow configuration"},
      {"description",
       "Flows loaded by kestrune::trace::FlowTrace::Init. Written from the flow format's table "
       "by tools/generate_flow_format.sh: do not edit. `kestrune_flow lint FILE` also judges "
       "what a schema cannot: topic names by ROS 2's rules, flow ids used twice, settings "
       "without effect."},
  };
  schema.update(Entry(KeyPlace::kTop));
  schema["definitions"] = {
      {"text",
       {{"description",
         "Read as text: numbers and booleans as written, no value as the text 'null'."},
        {"type", {"string", "number", "boolean", "null"}}}},
      {"boolean",
       {{"description", "A YAML boolean; yaml-cpp also takes these spellings."},
        {"anyOf",
         {{{"type", "boolean"}},
          {{"enum", {"y",  "Y",  "yes",  "Yes",  "YES",  "n",     "N",     "no",
                     "No", "NO", "true", "True", "TRUE", "false", "False", "FALSE",
                     "on", "On", "ON",   "off",  "Off",  "OFF"}}}}}}},
      {"number",
       {{"description", "A number; yaml-cpp also reads these texts."},
        {"anyOf",
         {{{"type", "number"}},
          {{"type", "string"},
           {"pattern",
            "^[-+]?(?:\\.[0-9]+|[0-9]+(?:\\.[0-9]*)?)(?:[eE][-+]?[0-9]+)?$|"
            "^[-+]?\\.(?:inf|Inf|INF)$|^\\.(?:nan|NaN|NAN)$"}}}}}},
      {"flow", Entry(KeyPlace::kFlow)},
      {"point", Entry(KeyPlace::kPoint)},
  };
  return schema.dump(2) + "\n";
}

std::string Dictionary() {
  std::string dict =
      "# Keys and values of the flow configuration file, for libFuzzer's -dict.\n"
      "# Written by tools/generate_flow_format.sh: do not edit.\n";
  std::set<std::string> seen;
  auto add = [&](const std::string& token) {
    if (seen.insert(token).second) {
      dict += "\"" + token + "\"\n";
    }
  };
  for (const FlowFileKey& key : kestrune::trace::FlowFileKeys()) {
    add(key.name);
    for (const auto& spelling : key.other_spellings) {
      add(spelling.name);
    }
  }
  add(kestrune::trace::kHeartbeatFlowId);
  // Values and the YAML that trips parsers: bounds, special floats, anchors,
  // tags, merge keys, documents.
  for (const char* token :
       {"true",       "false",      "yes",        "off",        "null", "~",  ".inf", ".nan",
        "2147483647", "2147483648", "4294967295", "4294967296", "-1",   ": ", "- ",   "\\x0a  - ",
        "\\x0a    ",  "{",          "}",          "[",          "]",    ", ", "&a ",  "*a",
        "<<: ",       "!!str ",     "---",        "? ",         "\\xe9"}) {
    add(token);
  }
  return dict;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc == 2 ? argv[1] : "";
  if (what == "schema") {
    std::cout << Schema();
  } else if (what == "dict") {
    std::cout << Dictionary();
  } else {
    std::cerr << "usage: generate_flow_format schema|dict\n";
    return 2;
  }
  return 0;
}
