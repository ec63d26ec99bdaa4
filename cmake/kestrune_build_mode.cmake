# The build mode, decided the same way in every package of the repository:
# over ROS 2 (the real rclcpp and rosidl) or over the standalone rclcpp layer.
#
#   KESTRUNE_BUILD_MODE  auto (default): ros when ROS 2's rclcpp package is found,
#                        else standalone; ros or standalone force the choice.
#
# Sets KESTRUNE_STANDALONE to ON or OFF. Include it after project().
set(KESTRUNE_BUILD_MODE "auto" CACHE STRING
  "auto, ros or standalone; auto builds over ROS 2 when its rclcpp is found")
set_property(CACHE KESTRUNE_BUILD_MODE PROPERTY STRINGS auto ros standalone)

if(KESTRUNE_BUILD_MODE STREQUAL "auto")
  find_package(rclcpp QUIET)
  if(rclcpp_FOUND)
    set(KESTRUNE_STANDALONE OFF)
  else()
    set(KESTRUNE_STANDALONE ON)
  endif()
elseif(KESTRUNE_BUILD_MODE STREQUAL "ros")
  set(KESTRUNE_STANDALONE OFF)
elseif(KESTRUNE_BUILD_MODE STREQUAL "standalone")
  set(KESTRUNE_STANDALONE ON)
else()
  message(FATAL_ERROR
    "KESTRUNE_BUILD_MODE is '${KESTRUNE_BUILD_MODE}'; it must be auto, ros or standalone")
endif()
if(KESTRUNE_STANDALONE)
  message(STATUS "${PROJECT_NAME}: standalone build (KESTRUNE_BUILD_MODE ${KESTRUNE_BUILD_MODE})")
else()
  message(STATUS "${PROJECT_NAME}: ROS 2 build (KESTRUNE_BUILD_MODE ${KESTRUNE_BUILD_MODE})")
endif()
