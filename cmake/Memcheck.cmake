# make memcheck: the whole program and its tests built with AddressSanitizer and
# UndefinedBehaviorSanitizer. Each test's processes (the test, the app it starts, the app's
# children) write their reports into a folder of that test: memcheck/<test>/.

option(PICTOLARIUM_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

if(PICTOLARIUM_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
    # The checker's shadow memory and quarantine make resident sizes meaningless: tests that bound them skip that.
    add_compile_definitions(PICTOLARIUM_SANITIZED)
endif()

# Points a test's reports at its own folder. Deferred to the end of the folder's CMakeLists, so a
# later set_tests_properties(... ENVIRONMENT ...) does not drop what this adds.
function(pictolarium_memcheck_test test)
    if(PICTOLARIUM_SANITIZE)
        # A deferred call reads its arguments only when it runs: pass the name as written now.
        cmake_language(EVAL CODE "cmake_language(DEFER CALL _pictolarium_memcheck_environment [[${test}]])")
    endif()
endfunction()

function(_pictolarium_memcheck_environment test)
    set(supp ${PROJECT_SOURCE_DIR}/tests/memcheck)
    set(out ${CMAKE_BINARY_DIR}/memcheck/${test})
    # A huge allocation returns null (the code's own limits answer it) instead of ending the test. Undefined
    # behaviour ends the process: reported and going on, it went to standard error, which a passing test's run
    # does not keep, and the names the report demangled were all that was left of it, as a leak.
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
        "ASAN_OPTIONS=log_path=${out}/asan:log_exe_name=1:allocator_may_return_null=1:detect_leaks=1"
        "LSAN_OPTIONS=suppressions=${supp}/lsan.supp:print_suppressions=0"
        "UBSAN_OPTIONS=log_path=${out}/ubsan:log_exe_name=1:print_stacktrace=1:halt_on_error=1:suppressions=${supp}/ubsan.supp")
endfunction()
