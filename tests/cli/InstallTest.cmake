# What `cmake --install` gives a user, checked as a user would: installed into a fresh
# temporary prefix, exactly the files a user runs or reads are there, the installed
# program runs from there on the demo data and writes the same bytes as the built one.
# Run by CTest: cmake -DBUILD_DIR=... -DPREFIX=... -DDEMO_MAKER=... -DBUILT_CLI=... -P this
foreach(variable BUILD_DIR PREFIX DEMO_MAKER BUILT_CLI)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "${variable} not given")
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN}: exit ${status}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${PREFIX})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX})

file(GLOB_RECURSE installed RELATIVE ${PREFIX} ${PREFIX}/*)
list(SORT installed)
set(expected bin/convoluzione-cli share/doc/convoluzione/CHANGELOG.md
             share/doc/convoluzione/LICENSE share/doc/convoluzione/README.md
             share/doc/convoluzione/copyright share/man/man1/convoluzione-cli.1.gz)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed:\n  ${installed}\nexpected:\n  ${expected}")
endif()

run(${PREFIX}/bin/convoluzione-cli --version)
if(NOT out MATCHES "^convoluzione-cli [0-9]+\\.[0-9]+\\.[0-9]+\nLicenza MIT")
  message(FATAL_ERROR "--version says:\n${out}")
endif()

set(demo ${PREFIX}-demo)
file(REMOVE_RECURSE ${demo})
file(MAKE_DIRECTORY ${demo})
run(${DEMO_MAKER} ${demo})
run(${PREFIX}/bin/convoluzione-cli ${demo}/chitarra-stereo.wav ${demo}/stanza-stereo.wav
    ${demo}/installed.wav)
if(NOT err STREQUAL "")
  message(FATAL_ERROR "standard error not empty:\n${err}")
endif()
run(${BUILT_CLI} ${demo}/chitarra-stereo.wav ${demo}/stanza-stereo.wav ${demo}/built.wav)
run(${CMAKE_COMMAND} -E compare_files ${demo}/installed.wav ${demo}/built.wav)
file(REMOVE_RECURSE ${PREFIX} ${demo})
