# Host build: the product compiled unchanged against the simulated Win32 machine, plus the
# unit tests.
option(SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

file(GLOB SIM_SOURCES CONFIGURE_DEPENDS sim/*.cpp)
add_library(winsim STATIC ${SIM_SOURCES})
target_include_directories(winsim PUBLIC sim/include sim)
target_compile_options(winsim PRIVATE ${WARNINGS})

add_library(agent STATIC ${PRODUCT_SOURCES})
target_include_directories(agent PUBLIC src)
target_link_libraries(agent PUBLIC winsim)
target_compile_options(agent PRIVATE ${WARNINGS} -fno-exceptions -fno-rtti)

enable_testing()
find_package(GTest REQUIRED)
file(GLOB UNIT_TEST_SOURCES CONFIGURE_DEPENDS tests/unit/*.cpp)
add_executable(unit_tests ${UNIT_TEST_SOURCES})
target_link_libraries(unit_tests PRIVATE agent winsim GTest::gtest GTest::gtest_main)
target_compile_options(unit_tests PRIVATE ${WARNINGS} -Wno-conversion -Wno-sign-conversion)
include(GoogleTest)
gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60)
