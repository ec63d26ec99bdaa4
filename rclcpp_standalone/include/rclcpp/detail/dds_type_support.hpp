#ifndef RCLCPP__DETAIL__DDS_TYPE_SUPPORT_HPP_
#define RCLCPP__DETAIL__DDS_TYPE_SUPPORT_HPP_

#include <type_traits>

namespace rclcpp {
namespace detail {

/// How messages of type MessageT travel over DDS; the package that defines the
/// message specialises it next to the message, as rosidl type support does.
///
/// A specialisation provides:
///   using DdsType = ...;  // the struct idlc generates, named "<pkg>::msg::dds_::<Msg>_"
///   static const dds_topic_descriptor_t& descriptor();
///   static void to_dds(const MessageT& message, DdsType& sample);
///   static void from_dds(const DdsType& sample, MessageT& message);
/// to_dds may let the sample borrow the message's strings: the sample is only
/// valid while the message lives unchanged, which is all dds_write needs.
template <typename MessageT>
struct DdsTypeSupport {
  static_assert(!std::is_same_v<MessageT, MessageT>,
                "no DDS type support for this message type: include the message's own header, "
                "which specialises rclcpp::detail::DdsTypeSupport");
};

}  // namespace detail
}  // namespace rclcpp

#endif  // RCLCPP__DETAIL__DDS_TYPE_SUPPORT_HPP_
