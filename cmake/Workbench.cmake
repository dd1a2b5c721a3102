# Assembles the workbench folder: the window program, the four companion tools
# under the names the window runs, and the generated sample sequence.
set(WORKBENCH_DIR ${CMAKE_BINARY_DIR}/workbench)
file(MAKE_DIRECTORY ${WORKBENCH_DIR})

set(workbench_programs
  "kestrune:kestrune"
  "kestrune-encode:x264.exe"
  "kestrune-decode:ffmpeg.exe"
  "kestrune-gilbert:gilbert.exe"
  "kestrune-channel:kestrune-channel"
  "kestrune-analyze:h264_analyze.exe"
  "kestrune-experiment:kestrune-experiment")

set(copy_commands)
set(copy_depends)
foreach(pair IN LISTS workbench_programs)
  string(REPLACE ":" ";" pair "${pair}")
  list(GET pair 0 target)
  list(GET pair 1 name)
  if(TARGET ${target})
    list(APPEND copy_commands COMMAND ${CMAKE_COMMAND} -E copy_if_different
         $<TARGET_FILE:${target}> ${WORKBENCH_DIR}/${name})
    list(APPEND copy_depends ${target})
  endif()
endforeach()

set(workbench_files)
if(TARGET kestrune-make-sample)
  set(sample ${WORKBENCH_DIR}/sample_176x144.yuv)
  add_custom_command(OUTPUT ${sample}
    COMMAND kestrune-make-sample --width 176 --height 144 --frames 300 -o ${sample}
    DEPENDS kestrune-make-sample
    COMMENT "Generating the QCIF sample sequence")
  list(APPEND workbench_files ${sample})
endif()

add_custom_target(workbench ALL
  ${copy_commands}
  DEPENDS ${copy_depends} ${workbench_files}
  COMMENT "Assembling the workbench folder")
