#ifndef RCL__TIME_H_
#define RCL__TIME_H_

/// Clock types, with the values rcl gives them.
typedef enum rcl_clock_type_e {
  RCL_CLOCK_UNINITIALIZED = 0,
  RCL_ROS_TIME,
  RCL_SYSTEM_TIME,
  RCL_STEADY_TIME
} rcl_clock_type_t;

#endif  // RCL__TIME_H_
