# cmake -P script: install, configure and build the consumer, run it. Any failing step fails.
set(prefix ${PM_WORK_DIR}/prefix)
set(consumer_build ${PM_WORK_DIR}/consumer-build)
file(REMOVE_RECURSE ${PM_WORK_DIR})
file(MAKE_DIRECTORY ${PM_WORK_DIR})

function(run_step what)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "install test: ${what} failed (${result}):\n${output}")
    endif()
    message(STATUS "install test: ${what}: ok")
    set(step_output "${output}" PARENT_SCOPE)
endfunction()

run_step("cmake --install" ${CMAKE_COMMAND} --install ${PM_BUILD_DIR} --prefix ${prefix})

foreach(required
        include/PackageManager/cPackageManager.h
        include/PackageManager/packagemanager_export.h
        share/PackageManager/undetermined_rendering.gif
        share/PackageManager/generic_pdf.thumb)
    if(NOT EXISTS ${prefix}/${required})
        message(FATAL_ERROR "install test: ${required} is not installed")
    endif()
endforeach()

set(configure_args -S ${PM_CONSUMER_SOURCE} -B ${consumer_build} -G ${PM_GENERATOR}
    -DCMAKE_CXX_COMPILER=${PM_CXX_COMPILER}
    -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_FIND_PACKAGE_PREFER_CONFIG=ON)
if(PM_MAKE_PROGRAM)
    list(APPEND configure_args -DCMAKE_MAKE_PROGRAM=${PM_MAKE_PROGRAM})
endif()
if(PM_BUILD_TYPE)
    list(APPEND configure_args -DCMAKE_BUILD_TYPE=${PM_BUILD_TYPE})
endif()
# Sanitizer builds: the consumer must link the same runtime as the installed libraries.
if(PM_CXX_FLAGS)
    list(APPEND configure_args "-DCMAKE_CXX_FLAGS=${PM_CXX_FLAGS}")
endif()
if(PM_EXE_LINKER_FLAGS)
    list(APPEND configure_args "-DCMAKE_EXE_LINKER_FLAGS=${PM_EXE_LINKER_FLAGS}")
endif()
if(PM_QT_DIR)
    list(APPEND configure_args -DQt6_DIR=${PM_QT_DIR})
endif()
run_step("configure the consumer" ${CMAKE_COMMAND} ${configure_args})
run_step("build the consumer" ${CMAKE_COMMAND} --build ${consumer_build})

# The consumer must take the installed library, not the one in the build tree.
find_program(consumer NAMES pm_consumer PATHS ${consumer_build} NO_DEFAULT_PATH REQUIRED)
run_step("run the consumer" ${consumer})
message(STATUS "${step_output}")
if(NOT step_output MATCHES "consumer: ok")
    message(FATAL_ERROR "install test: the consumer did not report success:\n${step_output}")
endif()
