# What a Windows program built with Qt needs beside it, laid out as Qt's
# Windows deployment expects: the Qt DLLs and the GCC runtime DLLs next to the
# program, the platform plugin in platforms/, the Windows style in styles/.

# The GCC runtime DLLs the cross compiler links Qt and the program against.
set(s2q_gcc_runtime)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "${dll} not found by ${CMAKE_CXX_COMPILER}")
  endif()
  list(APPEND s2q_gcc_runtime "${path}")
endforeach()

# Copies the runtime beside TARGET after each build of it, so that it runs
# where it was built (under Wine too). MODULES are the Qt modules it links
# (Core, Gui, Widgets, Test...).
function(s2q_qt_runtime target)
  cmake_parse_arguments(arg "" "" "MODULES" ${ARGN})
  set(dir $<TARGET_FILE_DIR:${target}>)
  set(dlls ${s2q_gcc_runtime})
  foreach(module ${arg_MODULES})
    list(APPEND dlls $<TARGET_FILE:Qt6::${module}>)
  endforeach()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${dlls} ${dir}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}/platforms ${dir}/styles
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> ${dir}/platforms
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> ${dir}/styles
    VERBATIM)
endfunction()

# The same runtime in an installed program folder (tools/build-windows).
function(s2q_install_qt_runtime)
  install(FILES ${s2q_gcc_runtime} $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui>
                $<TARGET_FILE:Qt6::Widgets> DESTINATION .)
  install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION platforms)
  install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION styles)
endfunction()
