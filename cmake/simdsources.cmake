# Sources named *_avx2.cc and *_avx512.cc are built for that instruction set
# alone; the code picks among them at run time (filters/simdlevel.h), so what
# is built runs on any x86-64. The compiler never fuses their multiply-adds
# (only a kernel that asks for fusion gets it), so they give the plain code's
# numbers. Used by the library and by the real-time check's own build.
function(vesk_simd_source_options)
  if(NOT CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64|amd64")
    return()
  endif()
  foreach(src ${ARGN})
    if(src MATCHES "_avx2\\.cc$")
      set_property(SOURCE ${src} APPEND PROPERTY COMPILE_OPTIONS -mavx2 -mfma -ffp-contract=off)
    elseif(src MATCHES "_avx512\\.cc$")
      set_property(SOURCE ${src} APPEND PROPERTY COMPILE_OPTIONS -mavx512f -ffp-contract=off)
    endif()
  endforeach()
endfunction()
