// Drawings of a configuration with every kind of point, checked for their
// structure (clusters, nodes, edges, styles), not byte for byte.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <kestrune_diagnostic_trace/flow_config.hpp>

#include "flow_render.hpp"

namespace {

using kestrune::flow_tool::RenderFlows;
using kestrune::flow_tool::RenderFormat;

struct Edge {
  std::string from;
  std::string to;
  bool dotted;
  std::string label;
  bool operator==(const Edge& other) const {
    return from == other.from && to == other.to && dotted == other.dotted && label == other.label;
  }
};

struct Cluster {
  std::string title;
  /// node id -> label lines joined by '|'
  std::map<std::string, std::string> nodes;
  std::map<std::string, bool> optional;
  std::vector<Edge> edges;
};

std::string RenderEveryPointKind(RenderFormat format) {
  std::ifstream file(KESTRUNE_TEST_SOURCE_DIR "/test/flow_configs/every_point_kind.yaml");
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const auto parsed = kestrune::trace::ParseFlowConfig(text);
  EXPECT_TRUE(parsed.findings.empty());
  return RenderFlows(parsed, kestrune::trace::LoadedFlows(parsed), format);
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::vector<Cluster> ReadMermaid(const std::string& text) {
  const std::regex subgraph(R"re(^  subgraph (\w+) \["(.*)"\]$)re");
  const std::regex node(R"re(^    (\w+)\["(.*)"\](:::optional)?$)re");
  const std::regex edge(R"re(^    (\w+) (-->|-\.->)(?:\|"(.*)"\|)? (\w+)$)re");
  std::vector<Cluster> clusters;
  std::istringstream lines(text);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "flowchart LR");
  for (std::smatch match; std::getline(lines, line);) {
    if (std::regex_match(line, match, subgraph)) {
      clusters.push_back({Replace(match[2], "<br/>", "|"), {}, {}, {}});
    } else if (std::regex_match(line, match, node)) {
      clusters.back().nodes[match[1]] = Replace(match[2], "<br/>", "|");
      clusters.back().optional[match[1]] = match[3].matched;
    } else if (std::regex_match(line, match, edge)) {
      clusters.back().edges.push_back({match[1], match[4], match[2] == "-.->", match[3]});
    } else {
      EXPECT_TRUE(line == "  end" || line.rfind("  classDef ", 0) == 0) << line;
    }
  }
  return clusters;
}

std::vector<Cluster> ReadDot(const std::string& text) {
  const std::regex subgraph(R"re(^  subgraph cluster_(\w+) \{$)re");
  const std::regex label(R"re(^    label="(.*)";$)re");
  const std::regex node(R"re(^    (\w+) \[label="(.*)"(, style=dashed)?\];$)re");
  const std::regex edge(
      R"re(^    (\w+) -> (\w+)(?: \[(style=dotted)?(?:, )?(?:label="(.*)")?\])?;$)re");
  std::vector<Cluster> clusters;
  std::istringstream lines(text);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "digraph flows {");
  for (std::smatch match; std::getline(lines, line);) {
    if (std::regex_match(line, match, subgraph)) {
      clusters.push_back({});
    } else if (std::regex_match(line, match, label)) {
      clusters.back().title = Replace(match[1], "\\n", "|");
    } else if (std::regex_match(line, match, node)) {
      clusters.back().nodes[match[1]] = Replace(match[2], "\\n", "|");
      clusters.back().optional[match[1]] = match[3].matched;
    } else if (std::regex_match(line, match, edge)) {
      clusters.back().edges.push_back({match[1], match[2], match[3].matched, match[4]});
    }
  }
  return clusters;
}

/// The same structure whatever the format.
void ExpectEveryPointKind(const std::vector<Cluster>& clusters) {
  ASSERT_EQ(clusters.size(), 3u);

  const Cluster& dock = clusters[0];
  EXPECT_EQ(dock.title,
            "dock: Docking|ordered, topic /robot/diag/dock, event 500, stall after 5000 ms");
  const std::map<std::string, std::string> dock_nodes{
      {"f0p0", "approach|event 501"},
      {"f0p1", "align|event 502, optional"},
      {"f0p2", "charge_pulse|event 503, timeout 200 ms"},
      {"f0p3", "docked|event 504"}};
  EXPECT_EQ(dock.nodes, dock_nodes);
  const std::map<std::string, bool> dock_optional{
      {"f0p0", false}, {"f0p1", true}, {"f0p2", false}, {"f0p3", false}};
  EXPECT_EQ(dock.optional, dock_optional);
  const std::vector<Edge> dock_edges{{"f0p2", "f0p2", false, "repeat 3, max 5"},
                                     {"f0p0", "f0p1", false, ""},
                                     {"f0p0", "f0p2", true, "skip"},
                                     {"f0p1", "f0p2", false, ""},
                                     {"f0p2", "f0p3", false, ""}};
  EXPECT_EQ(dock.edges, dock_edges);

  // Unordered: listed, not chained.
  const Cluster& inspect = clusters[1];
  EXPECT_EQ(inspect.title, "inspect: Inspection|any order, topic /robot/diag/inspect, event 600");
  EXPECT_EQ(inspect.nodes.size(), 2u);
  EXPECT_TRUE(inspect.optional.at("f1p1"));
  EXPECT_TRUE(inspect.edges.empty());

  const Cluster& heartbeat = clusters[2];
  EXPECT_EQ(heartbeat.title,
            "heartbeat|ordered, topic /robot/diag/heartbeat, a beat every 1000 ms");
  EXPECT_EQ(heartbeat.nodes.at("f2p0"), "heartbeat|event 1001, timeout 1500 ms");
  const std::vector<Edge> beat_edges{{"f2p0", "f2p0", false, "repeat 100, max 10"}};
  EXPECT_EQ(heartbeat.edges, beat_edges);
}

TEST(FlowRender, mermaid_draws_every_point_kind) {
  ExpectEveryPointKind(ReadMermaid(RenderEveryPointKind(RenderFormat::kMermaid)));
}

TEST(FlowRender, dot_draws_every_point_kind) {
  ExpectEveryPointKind(ReadDot(RenderEveryPointKind(RenderFormat::kDot)));
}

TEST(FlowRender, labels_cannot_break_out_of_their_quotes) {
  auto flow = std::make_shared<kestrune::trace::TraceFlowCfg>();
  flow->flow_id = "say \"hi\" <b>";
  auto point = std::make_shared<kestrune::trace::TracePointCfg>("a\\\"b");
  point->is_critical = true;
  flow->flow_points.push_back(point);
  const kestrune::trace::ParsedFlowConfig file;
  const auto mermaid = ReadMermaid(RenderFlows(file, {flow}, RenderFormat::kMermaid));
  ASSERT_EQ(mermaid.size(), 1u);
  EXPECT_EQ(mermaid[0].title, "say #quot;hi#quot; #lt;b#gt;|ordered");
  const auto dot = ReadDot(RenderFlows(file, {flow}, RenderFormat::kDot));
  ASSERT_EQ(dot.size(), 1u);
  EXPECT_EQ(dot[0].nodes.at("f0p0"), "a\\\\\\\"b");
}

}  // namespace
