# Builds the kit again in a second build folder, packages the shipped product
# with it, and compares the bytes of setup.exe.
file(REMOVE_RECURSE ${SECOND})
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${SECOND} -G Ninja -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}
    -DCMAKE_BUILD_TYPE=MinSizeRel -DSETUP_BUILD_TESTS=OFF
    OUTPUT_QUIET RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "the second configuration failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${SECOND} --target programs OUTPUT_QUIET RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "the second build failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${FIRST} ${SECOND}/bin/setup.exe RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
    message(FATAL_ERROR "two builds of setup.exe differ")
endif()
message(STATUS "two builds of setup.exe are identical")
file(REMOVE_RECURSE ${SECOND})
