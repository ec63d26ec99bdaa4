#ifndef RMW__TYPES_H_
#define RMW__TYPES_H_

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/// Bytes of a global id, as ROS 2 Humble's rmw sizes them.
#define RMW_GID_STORAGE_SIZE 24u

/// Nanoseconds since the epoch of the clock that took them.
typedef int64_t rmw_time_point_value_t;

/// The global id of a publisher or subscription: unique among the endpoints one
/// process sees, not necessarily the same in another process.
typedef struct rmw_gid_s {
  const char* implementation_identifier;
  uint8_t data[RMW_GID_STORAGE_SIZE];
} rmw_gid_t;

/// What came with a message besides its data: the part of Humble's
/// rmw_message_info_t the standalone layer fills.
typedef struct rmw_message_info_s {
  /// When the publisher wrote it, on the publisher's clock.
  rmw_time_point_value_t source_timestamp;
  /// 0: Cyclone DDS does not report the reception time, as in rmw_cyclonedds_cpp.
  rmw_time_point_value_t received_timestamp;
  /// The writer's instance handle in its first bytes, the rest zero, as rmw_cyclonedds_cpp has it.
  rmw_gid_t publisher_gid;
  bool from_intra_process;
} rmw_message_info_t;

#ifdef __cplusplus
}
#endif

#endif  // RMW__TYPES_H_
