# cmake -DNM=<nm> -DMODULE=<module file> -DOUTPUT=<list> -P ModuleExports.cmake
# Writes the dynamic list of what a module takes from its program: the symbols it leaves
# undefined, and those it defines only weakly (inline functions, their static objects, template
# instances), which must bind to the program's copies so that the program keeps one of each.
execute_process(COMMAND ${NM} -D --format=posix ${MODULE} OUTPUT_VARIABLE table
                RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "cannot read the symbols of ${MODULE}")
endif()
string(REPLACE "\n" ";" lines "${table}")
set(list "{\n")
foreach(line IN LISTS lines)
    if(line MATCHES "^([^ @]+)(@[^ ]*)? ([UwWvVu])( |$)")
        string(APPEND list "  ${CMAKE_MATCH_1};\n")
    endif()
endforeach()
string(APPEND list "};\n")
file(WRITE ${OUTPUT}.new "${list}")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
