# Shared compile settings for every target of the tree: warnings, sanitizers, and the
# separately compiled Asio/Beast (defined on each target, never globally).

set(VANTREL_WARNINGS -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wpedantic)

if(VANTREL_SANITIZE AND VANTREL_TSAN)
    message(FATAL_ERROR "VANTREL_SANITIZE and VANTREL_TSAN cannot be combined")
endif()

function(vantrel_target_defaults target)
    target_compile_options(${target} PRIVATE ${VANTREL_WARNINGS})
    if(VANTREL_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
    if(VANTREL_SANITIZE)
        target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                 -fno-sanitize-recover=undefined)
        target_link_options(${target} PRIVATE -fsanitize=address,undefined)
    endif()
    if(VANTREL_TSAN)
        target_compile_options(${target} PRIVATE -fsanitize=thread -fno-omit-frame-pointer)
        target_link_options(${target} PRIVATE -fsanitize=thread)
    endif()
endfunction()

# A static library of the tree: defaults applied, headers reachable from the tree root
# ("core/SecureStorage.h").
function(vantrel_library target)
    add_library(${target} STATIC ${ARGN})
    vantrel_target_defaults(${target})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

function(vantrel_program target)
    add_executable(${target} ${ARGN})
    vantrel_target_defaults(${target})
endfunction()

# A GoogleTest binary registered with ctest, one per library.
function(vantrel_test target)
    add_executable(${target} ${ARGN})
    vantrel_target_defaults(${target})
    target_link_libraries(${target} PRIVATE GTest::gtest GTest::gtest_main GTest::gmock)
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
endfunction()
