# Warnings and sanitizers live on interface targets so that every project target opts in by linking.
add_library(treelan_warnings INTERFACE)
target_compile_options(treelan_warnings INTERFACE
    $<$<CXX_COMPILER_ID:GNU,Clang>:-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                   -Wold-style-cast -Wcast-align -Woverloaded-virtual
                                   -Wimplicit-fallthrough -Wconversion -Wsign-conversion>)
if(TREELAN_WARNINGS_AS_ERRORS)
    target_compile_options(treelan_warnings INTERFACE $<$<CXX_COMPILER_ID:GNU,Clang>:-Werror>)
endif()

add_library(treelan_sanitizers INTERFACE)
if(TREELAN_SANITIZE)
    target_compile_options(treelan_sanitizers INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(treelan_sanitizers INTERFACE -fsanitize=address,undefined)
endif()
if(TREELAN_SANITIZE_THREAD)
    if(TREELAN_SANITIZE)
        message(FATAL_ERROR "ThreadSanitizer and AddressSanitizer cannot be combined")
    endif()
    target_compile_options(treelan_sanitizers INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(treelan_sanitizers INTERFACE -fsanitize=thread)
endif()
