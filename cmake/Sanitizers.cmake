# TOLMAR_SANITIZE=address builds with AddressSanitizer and UndefinedBehaviorSanitizer,
# TOLMAR_SANITIZE=thread with ThreadSanitizer. Applied to everything linked with tolmar_sanitizers.
add_library(tolmar_sanitizers INTERFACE)
if(TOLMAR_SANITIZE STREQUAL "address")
    target_compile_options(tolmar_sanitizers INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
        -fno-sanitize-recover=undefined)
    target_link_options(tolmar_sanitizers INTERFACE -fsanitize=address,undefined)
elseif(TOLMAR_SANITIZE STREQUAL "thread")
    target_compile_options(tolmar_sanitizers INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(tolmar_sanitizers INTERFACE -fsanitize=thread)
elseif(NOT TOLMAR_SANITIZE STREQUAL "")
    message(FATAL_ERROR "TOLMAR_SANITIZE must be empty, 'address' or 'thread'")
endif()
