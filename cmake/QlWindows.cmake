# Settings of the cross build for 32-bit Windows.
enable_language(RC)

# msvcrt's own wide printf: "%s" in a wide format is a wide text.
add_compile_definitions(__USE_MINGW_ANSI_STDIO=0 UNICODE _UNICODE
                        WINVER=0x0501 _WIN32_WINNT=0x0501 WIN32_LEAN_AND_MEAN)
# No -fdata-sections: for PE targets GCC then puts zero-filled variables into
# .data$ sections, so that every buffer is stored in the file.
add_compile_options(-Wall -Wextra -Wno-unused-parameter -ffunction-sections)

# Every program and DLL is linked statically against the compiler's runtime
# (libgcc, libstdc++, winpthread) and zlib, so that it needs no DLL but
# Windows' own.
add_link_options(-static -static-libgcc -static-libstdc++ -Wl,--gc-sections)

find_program(QL_OBJDUMP NAMES ${QL_MINGW_PREFIX}-objdump REQUIRED)

# ql_check_imports(target [dll...]): after each link, refuse an image that
# imports at load time a DLL outside Windows' own set, or outside the DLLs
# named.
function(ql_check_imports target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_SOURCE_DIR}/tools/check-imports.sh ${QL_OBJDUMP} $<TARGET_FILE:${target}> ${ARGN}
    VERBATIM)
endfunction()

function(ql_add_fuzz_target name)
endfunction()
function(ql_add_benchmark name)
endfunction()

# The stub's way of building: no C++ exceptions and no unwind tables. Their
# tables and runtime would be two fifths of a stub's image, and without the
# tables the linker's section garbage collection works (on PE targets every
# .eh_frame is kept and keeps every function it describes). Non-local returns
# go through common/QlRaise.h, which serves both ways of building.
set(QL_SFX_COMPILE_OPTIONS -fno-asynchronous-unwind-tables -fno-unwind-tables
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions>)

# ql_sfx_flavours(libraries...): for each library <name>, <name>_sfx: the same
# sources, settings and dependencies, built the stub's way; a dependency that
# is in the list is replaced by its own flavour. Called once every library
# is defined.
function(ql_sfx_flavours)
  set(flavoured ${ARGN})
  foreach(target IN LISTS flavoured)
    if(NOT TARGET ${target})
      continue()
    endif()
    get_target_property(sources ${target} SOURCES)
    get_target_property(dir ${target} SOURCE_DIR)
    set(files "")
    foreach(source IN LISTS sources)
      if(IS_ABSOLUTE "${source}" OR source MATCHES "^\\$<")
        list(APPEND files "${source}")
      else()
        list(APPEND files "${dir}/${source}")
      endif()
    endforeach()
    add_library(${target}_sfx STATIC ${files})
    foreach(property INCLUDE_DIRECTORIES COMPILE_DEFINITIONS COMPILE_OPTIONS
                     INTERFACE_INCLUDE_DIRECTORIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES
                     INTERFACE_COMPILE_DEFINITIONS)
      get_target_property(value ${target} ${property})
      if(value)
        set_property(TARGET ${target}_sfx PROPERTY ${property} "${value}")
      endif()
    endforeach()
    target_compile_options(${target}_sfx PRIVATE ${QL_SFX_COMPILE_OPTIONS})
    get_target_property(libraries ${target} LINK_LIBRARIES)
    if(libraries)
      set(mapped "")
      foreach(library IN LISTS libraries)
        if(library IN_LIST flavoured)
          list(APPEND mapped ${library}_sfx)
        else()
          list(APPEND mapped ${library})
        endif()
      endforeach()
      target_link_libraries(${target}_sfx PUBLIC ${mapped})
    endif()
  endforeach()
endfunction()

# ql_sfx_program(target): an executable built the stub's way, with the pieces
# of the runtime that the stub supplies itself.
function(ql_sfx_program target)
  target_compile_options(${target} PRIVATE ${QL_SFX_COMPILE_OPTIONS})
  target_link_libraries(${target} PRIVATE qlsfxruntime)
endfunction()
