// Flows as Mermaid or Graphviz graphs: one neutral model, two writers.
#include "flow_render.hpp"

#include <sstream>

#include <fmt/format.h>

#include "flow_config_reader.hpp"
#include "kestrune_diagnostic_trace/flow_format.hpp"

namespace kestrune {
namespace flow_tool {

namespace {

enum class EdgeKind { kNext, kSkip, kRepeat };

struct Node {
  std::string id;
  std::vector<std::string> lines;
  bool optional{false};
};

struct Edge {
  std::string from;
  std::string to;
  EdgeKind kind{EdgeKind::kNext};
  std::string label;
};

struct Cluster {
  std::string id;
  std::vector<std::string> title;
  std::vector<Node> nodes;
  std::vector<Edge> edges;
};

std::string Join(const std::vector<std::string>& parts, const std::string& separator) {
  std::string joined;
  for (const auto& part : parts) {
    joined += (joined.empty() ? "" : separator) + part;
  }
  return joined;
}

/// The labels of the keys of `place` whose value is not the default, in table order.
std::vector<std::string> Labels(trace::KeyPlace place,
                                const trace::detail::KeyRecords<true>& records) {
  std::vector<std::string> labels;
  for (const trace::FlowFileKey& key : trace::FlowFileKeys()) {
    if (key.place != place || key.label == nullptr ||
        (records.flow != nullptr && !trace::detail::ActsOn(key, *records.flow))) {
      continue;
    }
    const auto value = trace::detail::ValueOf(key, records);
    if (value && *value != key.default_value) {
      labels.push_back(std::visit(
          [&key](const auto& v) { return fmt::format(fmt::runtime(key.label), v); }, *value));
    }
  }
  return labels;
}

Cluster Model(const trace::ParsedFlowConfig& parsed, const trace::TraceFlowCfg& flow,
              size_t flow_index) {
  Cluster cluster;
  cluster.id = "f" + std::to_string(flow_index);
  cluster.title.push_back(flow.flow_name.empty() ? flow.flow_id
                                                 : flow.flow_id + ": " + flow.flow_name);
  std::vector<std::string> facts{flow.check_order ? "ordered" : "any order"};
  for (auto& label : Labels(trace::KeyPlace::kFlow, {&parsed, &flow, nullptr})) {
    facts.push_back(std::move(label));
  }
  cluster.title.push_back(Join(facts, ", "));

  const auto& points = flow.flow_points;
  for (size_t i = 0; i < points.size(); ++i) {
    const trace::TracePointCfg& point = *points[i];
    Node node{cluster.id + "p" + std::to_string(i), {point.point_id}, !point.is_critical};
    const auto details = Labels(trace::KeyPlace::kPoint, {&parsed, &flow, &point});
    if (!details.empty()) {
      node.lines.push_back(Join(details, ", "));
    }
    if (flow.check_order && point.repeat_cnt != 0) {
      std::string label = "repeat " + std::to_string(point.repeat_cnt);
      if (point.repeat_max != 0) {
        label += ", max " + std::to_string(point.repeat_max);
      }
      cluster.edges.push_back({node.id, node.id, EdgeKind::kRepeat, label});
    }
    cluster.nodes.push_back(std::move(node));
  }
  if (flow.check_order) {
    for (size_t i = 0; i + 1 < points.size(); ++i) {
      cluster.edges.push_back({cluster.nodes[i].id, cluster.nodes[i + 1].id, EdgeKind::kNext, ""});
      if (i + 2 < points.size() && cluster.nodes[i + 1].optional) {
        cluster.edges.push_back(
            {cluster.nodes[i].id, cluster.nodes[i + 2].id, EdgeKind::kSkip, "skip"});
      }
    }
  }
  return cluster;
}

/// `lines` escaped one by one, joined by `line_break` and quoted.
std::string QuotedLabel(const std::vector<std::string>& lines,
                        std::string (*escape)(const std::string&), const char* line_break) {
  std::vector<std::string> escaped;
  for (const auto& line : lines) {
    escaped.push_back(escape(line));
  }
  return "\"" + Join(escaped, line_break) + "\"";
}

/// Mermaid takes entity codes inside quoted labels; quotes and angle brackets would end them.
std::string MermaidText(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '"':
        escaped += "#quot;";
        break;
      case '<':
        escaped += "#lt;";
        break;
      case '>':
        escaped += "#gt;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::string MermaidLabel(const std::vector<std::string>& lines) {
  return QuotedLabel(lines, MermaidText, "<br/>");
}

void WriteMermaid(const std::vector<Cluster>& clusters, std::ostream& out) {
  out << "flowchart LR\n";
  out << "  classDef optional stroke-dasharray: 5 5\n";
  for (const auto& cluster : clusters) {
    out << "  subgraph " << cluster.id << " [" << MermaidLabel(cluster.title) << "]\n";
    for (const auto& node : cluster.nodes) {
      out << "    " << node.id << "[" << MermaidLabel(node.lines) << "]"
          << (node.optional ? ":::optional" : "") << "\n";
    }
    for (const auto& edge : cluster.edges) {
      const char* arrow = edge.kind == EdgeKind::kSkip ? " -.->" : " -->";
      out << "    " << edge.from << arrow;
      if (!edge.label.empty()) {
        out << "|" << MermaidLabel({edge.label}) << "|";
      }
      out << " " << edge.to << "\n";
    }
    out << "  end\n";
  }
}

std::string DotText(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '"' || c == '\\') {
      escaped += '\\';
    }
    escaped += c;
  }
  return escaped;
}

std::string DotLabel(const std::vector<std::string>& lines) {
  return QuotedLabel(lines, DotText, "\\n");
}

void WriteDot(const std::vector<Cluster>& clusters, std::ostream& out) {
  out << "digraph flows {\n  rankdir=LR;\n  node [shape=box];\n";
  for (const auto& cluster : clusters) {
    out << "  subgraph cluster_" << cluster.id << " {\n";
    out << "    label=" << DotLabel(cluster.title) << ";\n";
    for (const auto& node : cluster.nodes) {
      out << "    " << node.id << " [label=" << DotLabel(node.lines)
          << (node.optional ? ", style=dashed" : "") << "];\n";
    }
    for (const auto& edge : cluster.edges) {
      std::vector<std::string> attributes;
      if (edge.kind == EdgeKind::kSkip) {
        attributes.push_back("style=dotted");
      }
      if (!edge.label.empty()) {
        attributes.push_back("label=" + DotLabel({edge.label}));
      }
      out << "    " << edge.from << " -> " << edge.to;
      if (!attributes.empty()) {
        out << " [" << Join(attributes, ", ") << "]";
      }
      out << ";\n";
    }
    out << "  }\n";
  }
  out << "}\n";
}

}  // namespace

std::string RenderFlows(const trace::ParsedFlowConfig& parsed,
                        const std::vector<std::shared_ptr<trace::TraceFlowCfg>>& flows,
                        RenderFormat format) {
  std::vector<Cluster> clusters;
  for (size_t i = 0; i < flows.size(); ++i) {
    clusters.push_back(Model(parsed, *flows[i], i));
  }
  std::ostringstream out;
  if (format == RenderFormat::kMermaid) {
    WriteMermaid(clusters, out);
  } else {
    WriteDot(clusters, out);
  }
  return out.str();
}

}  // namespace flow_tool
}  // namespace kestrune
