# Where the IDL of builtin_interfaces' DDS types is installed, for message
# packages that run idlc on types using them.
set(rclcpp_standalone_IDL_DIR "${rclcpp_standalone_DIR}/../idl")
