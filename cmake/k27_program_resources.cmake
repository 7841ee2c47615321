# The resources every program of the kit carries: a version resource with
# the tool's version and, for an .exe, the kit's manifest (asInvoker, made
# for Windows 10 and 11, long-path aware). Included once by the top
# CMakeLists.txt for the Windows build.
#
#   k27_program_resources(TARGET DESCRIPTION "text" [FIRMWARE_RELEASE])
#
# DESCRIPTION is Explorer's "File description". FIRMWARE_RELEASE: the
# program carries the firmware release (k27prog), so the description names
# that release and a FirmwareRelease value gives it.

set(K27_VERSION_DIR "${CMAKE_BINARY_DIR}/version")
set(K27_VERSION_HEADER "${K27_VERSION_DIR}/k27version.h")
set(K27_PROGRAM_MANIFEST "${CMAKE_SOURCE_DIR}/resources/k27program.manifest")
set(K27_PROGRAM_RC_TEMPLATE "${CMAKE_SOURCE_DIR}/resources/program.rc.in")

# The version resource's values: the tool's version and the carried release,
# written anew (only when they change) at each build.
add_custom_target(k27_version
  COMMAND "${Python3_EXECUTABLE}" "${CMAKE_SOURCE_DIR}/release/k27release.py" version-header
    --source "${CMAKE_SOURCE_DIR}" --image "${K27_IMAGE_RESOURCE}" "--tool-version=${K27_TOOL_VERSION}"
    --out "${K27_VERSION_HEADER}"
  BYPRODUCTS "${K27_VERSION_HEADER}"
  VERBATIM)

function(k27_program_resources target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "FIRMWARE_RELEASE" "DESCRIPTION" "")
  if(NOT arg_DESCRIPTION OR arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "k27_program_resources(${target} DESCRIPTION \"text\" [FIRMWARE_RELEASE])")
  endif()
  # The resource compiler would read these as markup.
  if(arg_DESCRIPTION MATCHES "[\"\\\\]")
    message(FATAL_ERROR "k27_program_resources: no quote or backslash in a description")
  endif()
  get_target_property(type ${target} TYPE)
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  if(type STREQUAL "EXECUTABLE")
    set(K27_RC_FILE "${name}.exe")
    set(K27_RC_FILE_TYPE VFT_APP)
    # CREATEPROCESS_MANIFEST_RESOURCE_ID of type RT_MANIFEST.
    set(K27_RC_MANIFEST "1 24 \"${K27_PROGRAM_MANIFEST}\"")
  elseif(type STREQUAL "SHARED_LIBRARY")
    # A DLL takes the manifest of the program that loads it.
    set(K27_RC_FILE "${name}.dll")
    set(K27_RC_FILE_TYPE VFT_DLL)
    set(K27_RC_MANIFEST "")
  else()
    message(FATAL_ERROR "k27_program_resources: ${target} is neither a program nor a DLL")
  endif()
  set(K27_RC_NAME "${name}")
  if(arg_FIRMWARE_RELEASE)
    set(K27_RC_DESCRIPTION "\"${arg_DESCRIPTION}, release \" K27_FIRMWARE_RELEASE")
    set(K27_RC_EXTRA_VALUES "      VALUE \"FirmwareRelease\", K27_FIRMWARE_RELEASE")
  else()
    set(K27_RC_DESCRIPTION "\"${arg_DESCRIPTION}\"")
    set(K27_RC_EXTRA_VALUES "")
  endif()
  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}_program.rc")
  configure_file("${K27_PROGRAM_RC_TEMPLATE}" "${rc}" @ONLY)
  target_sources(${target} PRIVATE "${rc}")
  target_include_directories(${target} PRIVATE "${K27_VERSION_DIR}")
  add_dependencies(${target} k27_version)
  set_source_files_properties("${rc}" PROPERTIES OBJECT_DEPENDS "${K27_VERSION_HEADER};${K27_PROGRAM_MANIFEST}")
endfunction()
