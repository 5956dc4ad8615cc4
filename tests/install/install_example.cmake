# A small outside project built both ways a user would: against the installed
# package (find_package, with CMAKE_PREFIX_PATH) and with the repository
# embedded (add_subdirectory), which must need none of the project's test
# tools. Each build's sprite example runs on the windowless back-end with the
# same keys, and its SCRSHOT frame must equal the in-tree example's.
# The text example is built against the installed package too.
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed: ${rc}")
endif()
set(flags "")
if(SANITIZE)
  set(flags "-fsanitize=${SANITIZE}")
endif()

file(WRITE ${WORK_DIR}/embedded/CMakeLists.txt "cmake_minimum_required(VERSION 3.25)
project(embedded LANGUAGES CXX)
set(CMAKE_CXX_STANDARD 20)
add_subdirectory(${SOURCE_DIR} mapwalk)
add_executable(sprite ${SOURCE_DIR}/examples/sprite/main.cpp)
target_link_libraries(sprite PRIVATE mapwalk::screen)
")

string(ASCII 27 esc)
file(WRITE ${WORK_DIR}/keys "${esc}[C${esc}[C${esc}[Bc${esc}")
set(ENV{SCRBK} null)
function(run_example exe shot)
  set(ENV{SCRSHOT} ${shot})
  execute_process(COMMAND ${exe} INPUT_FILE ${WORK_DIR}/keys RESULT_VARIABLE rc TIMEOUT 60)
  if(NOT rc EQUAL 0 OR NOT EXISTS ${shot})
    message(FATAL_ERROR "${exe} ended with ${rc}, or left no frame")
  endif()
endfunction()
run_example(${SPRITE} ${WORK_DIR}/want.png)
file(SHA256 ${WORK_DIR}/want.png want)

# The embedded layer is built as one unity source, as a project that builds
# that way would (and with half the compiler's work).
foreach(way installed embedded)
  set(source ${EXAMPLE_DIR})
  set(unity "")
  if(way STREQUAL "embedded")
    set(source ${WORK_DIR}/embedded)
    set(unity -DCMAKE_UNITY_BUILD=ON -DCMAKE_UNITY_BUILD_BATCH_SIZE=0)
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${source} -B ${WORK_DIR}/${way}-build -G ${GENERATOR} ${unity}
      -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix "-DCMAKE_CXX_FLAGS=${flags}" "-DCMAKE_EXE_LINKER_FLAGS=${flags}"
    RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "configuring the ${way} project failed: ${rc}")
  endif()
  file(STRINGS ${WORK_DIR}/${way}-build/CMakeCache.txt tools REGEX "^(GTest_DIR|benchmark_DIR|NODE):")
  if(tools)
    message(FATAL_ERROR "the ${way} project looked for the project's test tools: ${tools}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/${way}-build --target sprite RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "building the ${way} project failed: ${rc}")
  endif()
  run_example(${WORK_DIR}/${way}-build/sprite ${WORK_DIR}/${way}.png)
  file(SHA256 ${WORK_DIR}/${way}.png got)
  if(NOT got STREQUAL want)
    message(FATAL_ERROR "the ${way} build's frame differs from the in-tree example's")
  endif()
  message(STATUS "${way}: built and showed the example's frame")
endforeach()

# The text example on its own against the installed package: it shows its title, takes the
# keys and ends with 0, leaving a frame.
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/text -B ${WORK_DIR}/text-build -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix "-DCMAKE_CXX_FLAGS=${flags}" "-DCMAKE_EXE_LINKER_FLAGS=${flags}"
  RESULT_VARIABLE rc)
if(rc EQUAL 0)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/text-build RESULT_VARIABLE rc)
endif()
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the text example does not build against the installed package: ${rc}")
endif()
file(WRITE ${WORK_DIR}/keys "\r${esc}[B\r\r${esc}")
run_example(${WORK_DIR}/text-build/text ${WORK_DIR}/text.png)
message(STATUS "text: built against the installed package and ran")
