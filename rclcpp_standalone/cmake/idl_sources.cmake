# Runs idlc on IDL files under `base_dir` (final extensibility, so XCDR1 as
# ROS 2 Humble's rmw expects) and returns the generated C sources in `out_var`;
# the headers land in CMAKE_CURRENT_BINARY_DIR with the files' relative paths.
function(rclcpp_standalone_idl_sources out_var base_dir)
  cmake_parse_arguments(ARG "" "" "FILES;INCLUDES" ${ARGN})
  string(MAKE_C_IDENTIFIER "${out_var}" idl_target)
  idlc_generate(TARGET ${idl_target}_idl
    FILES ${ARG_FILES}
    BASE_DIR ${base_dir}
    INCLUDES ${base_dir} ${ARG_INCLUDES}
    DEFAULT_EXTENSIBILITY final)
  get_target_property(sources ${idl_target}_idl INTERFACE_SOURCES)
  set(${out_var} ${sources} PARENT_SCOPE)
endfunction()
