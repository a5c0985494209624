# The resources of a Windows console program: the application manifest, so
# that it runs as invoker and takes UTF-8 arguments and file names. Nothing
# elsewhere.
set(vexlo_console_program_rc ${CMAKE_CURRENT_LIST_DIR}/windows/console-program.rc)

function(vexlo_console_program_resources target)
  if(WIN32)
    target_sources(${target} PRIVATE ${vexlo_console_program_rc})
  endif()
endfunction()
