// The format's table itself: every key it lists, in each of its spellings and
// set to a value other than its default, is read into its field, written back
// by show, known to the lint and in the fuzzer's dictionary. A new key of any
// type passes with nothing but its entry.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <kestrune_diagnostic_trace/flow_config_lint.hpp>
#include <kestrune_diagnostic_trace/flow_format.hpp>

#include "flow_config_reader.hpp"
#include "flow_show.hpp"

namespace {

using kestrune::trace::FieldValue;
using kestrune::trace::FlowFileKey;
using kestrune::trace::KeyPlace;
using kestrune::trace::ParsedFlowConfig;

/// A value other than the key's default, and the YAML that writes it.
std::pair<FieldValue, std::string> OtherValue(const FlowFileKey& key) {
  return std::visit(
      [&key](const auto& value) -> std::pair<FieldValue, std::string> {
        using T = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<T, bool>) {
          return {!value, value ? "false" : "true"};
        } else if constexpr (std::is_same_v<T, uint32_t>) {
          const uint32_t other = value == key.max ? key.min : key.max;
          return {other, std::to_string(other)};
        } else if constexpr (std::is_same_v<T, float>) {
          return {2.5F, "2.5"};
        } else {
          return {std::string("some_text"), "some_text"};
        }
      },
      key.default_value);
}

/// A file that writes `name: yaml` where `key` belongs, in an otherwise minimal flow.
std::string FileWith(const FlowFileKey& key, const std::string& name, const std::string& yaml) {
  const std::string setting = name + ": " + yaml;
  switch (key.place) {
    case KeyPlace::kTop:
      return "workflows: [{flow_id: f}]\n" + setting + "\n";
    case KeyPlace::kDiagnostics:
      return "workflows: [{flow_id: f}]\ndiagnostics: {" + setting + "}\n";
    case KeyPlace::kFlow: {
      const std::string id = key.scope == kestrune::trace::KeyScope::kHeartbeatFlow
                                 ? "flow_id: heartbeat, "
                                 : "flow_id: f, ";
      return "workflows: [{" + (key.required ? std::string() : id) + setting + "}]\n";
    }
    case KeyPlace::kPoint:
      return "workflows: [{flow_id: f, flow_points: [{" +
             (key.required ? std::string() : "point_id: p, ") + setting + "}]}]\n";
  }
  return "";
}

/// The value of `key` in what `parsed` loads.
std::optional<FieldValue> LoadedValue(const FlowFileKey& key, const ParsedFlowConfig& parsed) {
  kestrune::trace::detail::KeyRecords<true> records{&parsed};
  const auto flows = kestrune::trace::LoadedFlows(parsed);
  if (!flows.empty()) {
    records.flow = flows.front().get();
    if (!flows.front()->flow_points.empty()) {
      records.point = flows.front()->flow_points.back().get();
    }
  }
  return kestrune::trace::detail::ValueOf(key, records);
}

std::string Dictionary() {
  std::ifstream file(KESTRUNE_TEST_SOURCE_DIR "/test/fuzz/flow_config.dict");
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TEST(FlowFormat, every_key_is_read_shown_linted_and_in_the_dictionary) {
  const std::string dictionary = Dictionary();
  size_t keys = 0;
  for (const FlowFileKey& key : kestrune::trace::FlowFileKeys()) {
    std::vector<std::string> names{key.name};
    for (const auto& spelling : key.other_spellings) {
      names.emplace_back(spelling.name);
    }
    for (const std::string& name : names) {
      EXPECT_NE(dictionary.find("\"" + name + "\"\n"), std::string::npos) << name;
    }
    if (std::holds_alternative<std::monostate>(key.field)) {
      continue;  // the sequences and the section: every file of the corpus has them
    }
    ++keys;
    const auto [value, yaml] = OtherValue(key);
    for (const std::string& name : names) {
      SCOPED_TRACE(name);
      const std::string text = FileWith(key, name, yaml);
      const ParsedFlowConfig parsed = kestrune::trace::ParseFlowConfig(text);
      EXPECT_TRUE(parsed.findings.empty()) << text;
      EXPECT_EQ(LoadedValue(key, parsed), value) << text;
      const ParsedFlowConfig reloaded =
          kestrune::trace::ParseFlowConfig(kestrune::flow_tool::ShowFlowConfig(parsed));
      EXPECT_EQ(LoadedValue(key, reloaded), value) << text;
      for (const auto& finding : kestrune::trace::LintFlowConfig(text)) {
        EXPECT_NE(finding.code, kestrune::trace::FindingCode::kUnknownKey) << finding.message;
      }
    }
  }
  EXPECT_GE(keys, 22u);
}

TEST(FlowFormat, a_key_is_found_under_each_spelling_only_at_its_place) {
  const FlowFileKey* event = kestrune::trace::FindFlowFileKey(KeyPlace::kPoint, "faliure_id");
  ASSERT_NE(event, nullptr);
  EXPECT_STREQ(event->name, "event_id");
  EXPECT_EQ(kestrune::trace::FindFlowFileKey(KeyPlace::kFlow, "point_desc"), nullptr);
  EXPECT_EQ(kestrune::trace::FindFlowFileKey(KeyPlace::kDiagnostics, "flow_id"), nullptr);
}

}  // namespace
