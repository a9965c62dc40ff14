# Reads the one list of host operations (host/host_operations.h) for build steps
# that need it outside the compilers: the stand-in host's export definitions.
set(QUENDRIX_HOST_OPERATIONS_LIST ${CMAKE_SOURCE_DIR}/host/host_operations.h)

# quendrix_host_operations(<out-var>): a list of "name;ordinal;convention;bytes" groups
# flattened as name1 ordinal1 convention1 bytes1 name2 ...
function(quendrix_host_operations out)
    # Read as one text and match each entry without its trailing backslash: in a
    # list that backslash would escape the separator and run entries together.
    file(READ ${QUENDRIX_HOST_OPERATIONS_LIST} text)
    string(REGEX MATCHALL "\n *X\\([^\n\\\\]*" lines "${text}")
    set(result "")
    foreach(line IN LISTS lines)
        if(NOT line MATCHES "X\\(([A-Za-z0-9_]+), *([0-9]+), *([A-Z]+), *([0-9]+),")
            message(FATAL_ERROR "Unreadable host operation: ${line}")
        endif()
        list(APPEND result ${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3} ${CMAKE_MATCH_4})
    endforeach()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QUENDRIX_HOST_OPERATIONS_LIST})
    set(${out} ${result} PARENT_SCOPE)
endfunction()

# quendrix_write_export_def(<file> <library> [SKIP name...] [EXTRA line...]):
# a .def that exports every host operation by ordinal only, under its own name.
function(quendrix_write_export_def file library)
    cmake_parse_arguments(ARG "" "" "SKIP;EXTRA" ${ARGN})
    quendrix_host_operations(ops)
    set(text "LIBRARY ${library}\nEXPORTS\n")
    list(LENGTH ops n)
    math(EXPR last "${n} - 1")
    foreach(i RANGE 0 ${last} 4)
        math(EXPR j "${i} + 1")
        math(EXPR k "${i} + 2")
        math(EXPR m "${i} + 3")
        list(GET ops ${i} name)
        list(GET ops ${j} ordinal)
        list(GET ops ${k} convention)
        list(GET ops ${m} bytes)
        if(name IN_LIST ARG_SKIP)
            continue()
        endif()
        if(convention STREQUAL "STDCALL")
            string(APPEND text "    ${name}@${bytes} @${ordinal} NONAME\n")
        else()
            string(APPEND text "    ${name} @${ordinal} NONAME\n")
        endif()
    endforeach()
    foreach(line IN LISTS ARG_EXTRA)
        string(APPEND text "    ${line}\n")
    endforeach()
    file(GENERATE OUTPUT ${file} CONTENT "${text}")
endfunction()
