# Helpers shared by the top-level, test, benchmark and fuzz lists.

function(korvel_apply_sanitizers target)
  if(KORVEL_SANITIZE)
    set(flags -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    if(KORVEL_FUZZ)
      # Instrument everything for coverage so the fuzzers are guided through
      # the code under test; the runtime comes with the fuzz binaries.
      list(APPEND flags -fsanitize=fuzzer-no-link)
    endif()
    target_compile_options(${target} INTERFACE ${flags})
    target_link_options(${target} INTERFACE -fsanitize=address,undefined)
  elseif(KORVEL_TSAN)
    # -O1 with line tables: what the sanitizer's reports need, and a build
    # of about half the time of -O2 -g.
    target_compile_options(${target} INTERFACE -fsanitize=thread -fno-omit-frame-pointer -O1 -gline-tables-only)
    target_link_options(${target} INTERFACE -fsanitize=thread)
  endif()
endfunction()

# One object library per source folder (its .cpp files, not its sub-folders).
function(korvel_add_subsystem name dir)
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(sources)
    string(REPLACE "/" "_" target ${name})
    add_library(korvel_${target} OBJECT ${sources})
    target_link_libraries(korvel_${target} PUBLIC korvel_common)
  endif()
endfunction()
