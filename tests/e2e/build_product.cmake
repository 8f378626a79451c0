# Configures and builds the setup program of PRODUCT into BUILD.
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${BUILD} -G Ninja -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}
    -DCMAKE_BUILD_TYPE=MinSizeRel -DSETUP_BUILD_TESTS=OFF -DPRODUCT=${PRODUCT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "configuring ${PRODUCT} failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD} --target setup RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "building ${PRODUCT} failed")
endif()
