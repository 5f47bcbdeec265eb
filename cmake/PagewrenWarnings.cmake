# Warnings for our own targets; third-party headers come in as SYSTEM includes.
add_library(pw_warnings INTERFACE)
target_compile_options(pw_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                             -Wold-style-cast -Wcast-align -Woverloaded-virtual)
if(PW_WERROR)
    target_compile_options(pw_warnings INTERFACE -Werror)
endif()
