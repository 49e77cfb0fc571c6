# printer-setup.exe: PE32, GUI subsystem, system DLL imports only, -Os and stripped.
enable_language(RC)
# windres reads the manifest through the .rc file, which CMake does not scan for it.
set_source_files_properties(res/printer-setup.rc PROPERTIES
  OBJECT_DEPENDS ${CMAKE_SOURCE_DIR}/res/printer-setup.manifest)

add_executable(printer-setup WIN32 ${PRODUCT_SOURCES} src/startup/windows_startup.cpp
  src/startup/winspool_binding.cpp
  res/printer-setup.rc)
target_include_directories(printer-setup PRIVATE src)
target_compile_options(printer-setup PRIVATE
  $<$<COMPILE_LANGUAGE:CXX>:${WARNINGS} -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
  -ffunction-sections -fdata-sections>)
target_compile_definitions(printer-setup PRIVATE WIN32_LEAN_AND_MEAN)
# MinGW's GCC puts zero-initialised data of its own section in .data, with its bytes in the file:
# the three path buffers of the process-wide state belong in .bss.
set_source_files_properties(src/entry/state.cpp PROPERTIES COMPILE_OPTIONS -fno-data-sections)
# Nothing of libgcc or libstdc++ may be needed at run time: link them statically, drop unused
# sections and the symbol table.
# Our own entry point instead of the runtime's start-up code; msvcrt still provides the
# string functions.
# No link time stamp and no build path in the file: two builds of the same sources give the same
# bytes, so anyone can rebuild the shipped exe and compare it before trusting it.
# Terminal-Server aware, as Windows' own linker marks programs by default: on a Remote Desktop
# Session Host an unmarked program is given a private Windows folder in the user's profile, and
# the system libraries would be looked for and copied there.
target_link_options(printer-setup PRIVATE -mwindows -static-libgcc -static-libstdc++ -s
  -Wl,--gc-sections -nostartfiles -Wl,-e,_AgentStartup@0 -Wl,--no-insert-timestamp
  -Wl,--tsaware)
target_compile_options(printer-setup PRIVATE -ffile-prefix-map=${CMAKE_SOURCE_DIR}=.)
target_link_libraries(printer-setup PRIVATE msvcrt kernel32)
# winspool is bound at run time (src/startup/winspool_binding.cpp): only known DLLs are imported.
target_link_libraries(printer-setup PRIVATE advapi32 shell32 ole32)
set_target_properties(printer-setup PROPERTIES OUTPUT_NAME printer-setup
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
