# libtiff and libjpeg (built for the target by scripts/build-deps), zlib
# (Debian's MinGW package) and GoogleTest, as imported static libraries.
set(ROZERADO_DEPS "$ENV{ROZERADO_DEPS}" CACHE PATH "Prefix of the target's libtiff, libjpeg and GoogleTest")
if(NOT EXISTS "${ROZERADO_DEPS}/lib/libtiff.a")
    message(FATAL_ERROR "libtiff not found under '${ROZERADO_DEPS}': run scripts/build-deps")
endif()

find_library(ZLIB_STATIC NAMES libz.a REQUIRED)

add_library(thirdparty_tiff INTERFACE)
target_include_directories(thirdparty_tiff SYSTEM INTERFACE ${ROZERADO_DEPS}/include)
target_link_libraries(thirdparty_tiff INTERFACE
    ${ROZERADO_DEPS}/lib/libtiff.a ${ROZERADO_DEPS}/lib/libjpeg.a ${ZLIB_STATIC})

add_library(thirdparty_gtest INTERFACE)
target_include_directories(thirdparty_gtest SYSTEM INTERFACE ${ROZERADO_DEPS}/include)
target_link_libraries(thirdparty_gtest INTERFACE
    ${ROZERADO_DEPS}/lib/libgtest.a)
