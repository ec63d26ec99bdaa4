#ifndef KESTRUNE_DIAGNOSTIC_TRACE__TOPIC_NAME_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__TOPIC_NAME_HPP_

#include <string>

namespace kestrune {
namespace flow_tool {

/// Why ROS 2 refuses `topic` for a node in the root namespace, in one line;
/// empty when it takes it. A node's name and namespace make no invalid name
/// valid, except that '{ns}' at the start needs a namespace other than '/'.
std::string TopicNameProblem(const std::string& topic);

}  // namespace flow_tool
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__TOPIC_NAME_HPP_
