// A sender of flow points for test_flow_checker, in a process of its own.
// Arguments: [--node NAME] [--senders N] [--topic TOPIC] then steps, each one argument with
// its words separated by spaces:
//   "wait"                       until a checker hears every sender (at most 10 s)
//   "point S FLOW POINT MS [fail]" sender S sends POINT stamped MS milliseconds from now
//                                (or since the epoch, written "@MS")
//   "check S FLOW" / "reset S FLOW" sender S asks to check or reset FLOW
//   "raw FLOW POINT SEQ"         a bare publisher sends POINT numbered SEQ, stamped now
//   "request check|reset FLOW MS" the bare publisher sends an unnumbered request stamped MS
//   "pause MS"
//   "load FLOW P1,P2,.. RATE SECONDS"  every sender, on a thread of its own, sends
//                                runs of the points at RATE points a second for SECONDS
//   "engine CONFIG"              initialises the engine with this node and CONFIG
//   "trace FLOW POINT" / "engine-check FLOW" / "engine-reset FLOW"  the engine's own calls
// Prints "sent N" with the number of messages it sent, then ends.
#include <atomic>
#include <chrono>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <kestrune_diagnostic_trace/flow_trace.hpp>
#include <kestrune_diagnostic_trace/point_sender.hpp>
#include <rclcpp/rclcpp.hpp>

namespace {

using kestrune::trace::FlowPoint;
using kestrune::trace::FlowTrace;
using kestrune::trace::PointSender;
using Clock = std::chrono::steady_clock;

std::vector<std::string> Words(const std::string& text) {
  std::istringstream stream(text);
  std::vector<std::string> words;
  for (std::string word; stream >> word;) {
    words.push_back(word);
  }
  return words;
}

/// "@MS": milliseconds since the epoch; "MS": milliseconds from now.
int64_t StampMs(const std::string& text) {
  if (text.front() == '@') {
    return std::stoll(text.substr(1));
  }
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
             .count() +
         std::stoll(text);
}

builtin_interfaces::msg::Time TimeOfMs(int64_t ms) {
  builtin_interfaces::msg::Time time;
  time.sec = static_cast<int32_t>(ms / 1000);
  time.nanosec = static_cast<uint32_t>(ms % 1000 * 1000000);
  return time;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream stream(text);
  for (std::string part; std::getline(stream, part, separator);) {
    parts.push_back(part);
  }
  return parts;
}

/// Runs of `points` at `rate` points a second for `seconds`, paced against the
/// steady clock so that a slow moment is caught up rather than lost.
uint64_t Load(PointSender& sender, const std::string& flow, const std::vector<std::string>& points,
              double rate, double seconds) {
  const auto start = Clock::now();
  const auto total = static_cast<uint64_t>(rate * seconds);
  uint64_t sent = 0;
  while (sent < total) {
    const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(static_cast<double>(sent) / rate));
    std::this_thread::sleep_until(due);
    sender.Trace(flow, points[sent % points.size()], true);
    ++sent;
  }
  return sent;
}

}  // namespace

int main(int argc, char** argv) {
  std::string node_name = "flow_point_probe";
  size_t sender_count = 1;
  std::string topic = PointSender::kDefaultTopic;
  int first_step = 1;
  for (; first_step + 1 < argc; first_step += 2) {
    const std::string option = argv[first_step];
    if (option == "--node") {
      node_name = argv[first_step + 1];
    } else if (option == "--senders") {
      sender_count = std::stoul(argv[first_step + 1]);
    } else if (option == "--topic") {
      topic = argv[first_step + 1];
    } else {
      break;
    }
  }
  rclcpp::init(argc, argv);
  auto node = std::make_shared<rclcpp::Node>(node_name);
  std::vector<std::unique_ptr<PointSender>> senders;
  for (size_t i = 0; i < sender_count; ++i) {
    senders.push_back(std::make_unique<PointSender>(*node, topic));
  }
  auto raw = node->create_publisher<FlowPoint>(topic, rclcpp::QoS(100));
  FlowTrace* engine = FlowTrace::GetInstance();
  uint64_t sent = 0;
  for (int i = first_step; i < argc; ++i) {
    const std::vector<std::string> words = Words(argv[i]);
    if (words.empty()) {
      continue;
    }
    const std::string& step = words[0];
    if (step == "wait") {
      const auto deadline = Clock::now() + std::chrono::seconds(10);
      auto heard = [&] {
        for (const auto& sender : senders) {
          if (sender->CheckerCount() == 0) {
            return false;
          }
        }
        return raw->get_subscription_count() != 0;
      };
      while (!heard() && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      if (!heard()) {
        std::cerr << "flow_point_probe: no checker heard within 10 s\n";
        return 1;
      }
      // The writers see the checker's reader a moment before the checker knows
      // the writers; what they sent in between would not reach it. The engine's
      // own sender is matched in the same exchange.
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    } else if (step == "point") {
      kestrune::trace::TracePoint point(words[3], words.size() < 6);
      point.timestamp_ms = StampMs(words[4]);
      senders.at(std::stoul(words[1]))->Trace(words[2], point);
      ++sent;
    } else if (step == "check") {
      senders.at(std::stoul(words[1]))->CheckFlow(words[2]);
      ++sent;
    } else if (step == "reset") {
      senders.at(std::stoul(words[1]))->ResetFlow(words[2]);
      ++sent;
    } else if (step == "raw") {
      FlowPoint message;
      message.stamp = rclcpp::Clock(RCL_SYSTEM_TIME).now();
      message.flow_id = words[1];
      message.point_id = words[2];
      message.success = true;
      message.sequence = std::stoull(words[3]);
      message.source = node->get_fully_qualified_name();
      raw->publish(message);
      ++sent;
    } else if (step == "request") {
      FlowPoint message;
      message.stamp = TimeOfMs(StampMs(words[3]));
      message.flow_id = words[2];
      message.kind = words[1] == "check" ? FlowPoint::CHECK : FlowPoint::RESET;
      message.source = node->get_fully_qualified_name();
      raw->publish(message);
      ++sent;
    } else if (step == "pause") {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::stoll(words[1])));
    } else if (step == "load") {
      std::atomic<uint64_t> loaded{0};
      std::vector<std::thread> threads;
      for (auto& sender : senders) {
        threads.emplace_back([&, sender = sender.get()] {
          loaded += Load(*sender, words[1], Split(words[2], ','), std::stod(words[3]),
                         std::stod(words[4]));
        });
      }
      for (auto& thread : threads) {
        thread.join();
      }
      sent += loaded;
    } else if (step == "engine") {
      engine->Init(words[1], node);
    } else if (step == "trace") {
      engine->Trace(words[1], words[2], true);
      ++sent;
    } else if (step == "engine-check") {
      engine->CheckFlow(words[1]);
      ++sent;
    } else if (step == "engine-reset") {
      engine->ResetFlow(words[1]);
      ++sent;
    } else {
      std::cerr << "flow_point_probe: unknown step '" << argv[i] << "'\n";
      return 2;
    }
  }
  std::cout << "sent " << sent << std::endl;
  // Delivers what was published before the participant goes.
  rclcpp::shutdown();
  return 0;
}
