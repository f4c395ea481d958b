# ship_portable(<target>): a Linux library that loads on any glibc since 2.28 and beside any C++
# runtime. libstdc++ and libgcc are linked in and kept inside (--exclude-libs); the references the
# build's newer glibc would add are wrapped onto old versions (platform/host/linux/runtime/glibc_floor.cpp).
# Sanitizer builds are tests, and keep the system's runtimes. A stripped copy goes to bin/stripped,
# beside the unstripped library, which keeps the symbols for crash reports.
set(GLIBC_FLOOR 2.28)
set(GLIBC_FLOOR_WRAPPED dlopen dlsym dlclose pthread_once pthread_key_create __pthread_key_create
  pthread_mutex_trylock pthread_create pthread_join pthread_detach pthread_cond_clockwait fstat64)

function(ship_portable target)
  if(SANITIZE OR NOT HOST_BACKEND STREQUAL linux)
    return()
  endif()
  target_link_libraries(${target} PRIVATE glibc_floor)
  list(TRANSFORM GLIBC_FLOOR_WRAPPED PREPEND "-Wl,--wrap=" OUTPUT_VARIABLE wraps)
  target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc -Wl,--exclude-libs,ALL
    -Wl,--gc-sections ${wraps})
  target_link_libraries(${target} PRIVATE -Wl,--push-state,--no-as-needed -l:libdl.so.2 -l:libpthread.so.0
    -Wl,--pop-state)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory $<TARGET_FILE_DIR:${target}>/stripped
    COMMAND ${CMAKE_STRIP} --strip-unneeded -o $<TARGET_FILE_DIR:${target}>/stripped/$<TARGET_FILE_NAME:${target}>
      $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()
