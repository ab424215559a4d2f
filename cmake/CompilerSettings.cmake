# Warnings and floating-point rules for every target of the project.
#
# Floating point is pinned: no fast-math and no contraction of a multiply and an add into
# one fused operation, because every output sample is defined to the bit. Code that is
# meant to fuse says so explicitly (intrinsics or std::fma), never through the compiler.
find_package(Threads REQUIRED)

function(convoluzione_settings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /fp:precise /fp:contract-)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -ffp-contract=off)
  endif()
  target_link_libraries(${target} PUBLIC Threads::Threads)
  if(MINGW)
    # One self-contained program: no runtime DLL beyond those Windows ships.
    target_link_options(${target} PUBLIC -static -static-libgcc -static-libstdc++)
  endif()
endfunction()
