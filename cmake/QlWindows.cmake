# Settings of the cross build for 32-bit Windows.
enable_language(RC)

# msvcrt's own wide printf: "%s" in a wide format is a wide text.
add_compile_definitions(__USE_MINGW_ANSI_STDIO=0 UNICODE _UNICODE
                        WINVER=0x0501 _WIN32_WINNT=0x0501 WIN32_LEAN_AND_MEAN)
add_compile_options(-Wall -Wextra -Wno-unused-parameter
                    -ffunction-sections -fdata-sections)

# Every program and DLL is linked statically against the compiler's runtime
# (libgcc, libstdc++, winpthread) and zlib, so that it needs no DLL but
# Windows' own.
add_link_options(-static -static-libgcc -static-libstdc++ -Wl,--gc-sections)

find_program(QL_OBJDUMP NAMES ${QL_MINGW_PREFIX}-objdump REQUIRED)

# ql_check_imports(target): after each link, refuse an image that imports a DLL
# outside Windows' own set.
function(ql_check_imports target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_SOURCE_DIR}/tools/check-imports.sh ${QL_OBJDUMP} $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()

function(ql_add_fuzz_target name)
endfunction()
function(ql_add_benchmark name)
endfunction()
