# add_jni_library(<name> <sources>...): one of the shipped libraries. It exports only its
# JNIEXPORT functions and carries the version text the Java loader checks; on Windows it is a
# self-contained DLL with undecorated stdcall names.
if(WIN32)
  set(NATIVES_VERSION_KEEP used)
else()
  set(NATIVES_VERSION_KEEP "used, retain")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/natives_version.cpp.in ${CMAKE_BINARY_DIR}/natives_version.cpp @ONLY)

function(add_jni_library name)
  add_library(${name} SHARED ${ARGN} ${CMAKE_BINARY_DIR}/natives_version.cpp)
  target_link_libraries(${name} PRIVATE jni orvanta_jni_headers)
  set_target_properties(${name} PROPERTIES PREFIX "${CMAKE_SHARED_LIBRARY_PREFIX}")
  if(WIN32)
    set_target_properties(${name} PROPERTIES PREFIX "")
    target_compile_options(${name} PRIVATE -fno-exceptions -fno-rtti)
    # --kill-at drops the @N suffix that stdcall puts on the names; the objects keep it,
    # which is how the ABI test proves the calling convention.
    target_link_options(${name} PRIVATE -s -static-libgcc -static-libstdc++
      -Wl,--kill-at -Wl,--no-insert-timestamp -Wl,--dynamicbase -Wl,--nxcompat)
  else()
    # Its own folder and the system's, never the build tree's (which CMake would add for winhost):
    # a library loaded from there would run inside the JVM.
    set_target_properties(${name} PROPERTIES BUILD_WITH_INSTALL_RPATH ON INSTALL_RPATH "$ORIGIN")
    # Inline code from system headers keeps default visibility; the map hides all but JNI. An
    # RPATH, not a RUNPATH: LD_LIBRARY_PATH comes after it, so the backend beside the library is
    # the one loaded, never another version found there.
    target_link_options(${name} PRIVATE -Wl,--no-undefined -Wl,--disable-new-dtags
      -Wl,--version-script=${CMAKE_CURRENT_FUNCTION_LIST_DIR}/jni-exports.map)
    ship_portable(${name})
  endif()
endfunction()
