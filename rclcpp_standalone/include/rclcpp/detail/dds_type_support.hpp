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
///
/// A message with sequences of structs also provides `struct Buffers`, the
/// storage the sample's sequences borrow, and takes it as a third argument:
///   static void to_dds(const MessageT& message, DdsType& sample, Buffers& buffers);
template <typename MessageT>
struct DdsTypeSupport {
  static_assert(!std::is_same_v<MessageT, MessageT>,
                "no DDS type support for this message type: include the message's own header, "
                "which specialises rclcpp::detail::DdsTypeSupport");
};

template <typename Support, typename = void>
struct HasSampleBuffers : std::false_type {};

template <typename Support>
struct HasSampleBuffers<Support, std::void_t<typename Support::Buffers>> : std::true_type {};

/// Fills `sample` from `message` and calls `write(sample)` while the storage
/// the sample borrows lives.
template <typename MessageT, typename Write>
void WithDdsSample(const MessageT& message, Write&& write) {
  using Support = DdsTypeSupport<MessageT>;
  typename Support::DdsType sample{};
  if constexpr (HasSampleBuffers<Support>::value) {
    typename Support::Buffers buffers;
    Support::to_dds(message, sample, buffers);
    write(sample);
  } else {
    Support::to_dds(message, sample);
    write(sample);
  }
}

}  // namespace detail
}  // namespace rclcpp

#endif  // RCLCPP__DETAIL__DDS_TYPE_SUPPORT_HPP_
