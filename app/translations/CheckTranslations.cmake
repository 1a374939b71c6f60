# Fails when a text of the program has no finished translation in one of
# the .ts files: runs lupdate over the sources into a copy of each file (the
# sources' texts that the file lacks come in as unfinished entries) and
# looks for unfinished entries in the copy.
#   cmake -DLUPDATE=... -DSOURCE_DIR=app -DWORK_DIR=... -DTS_FILES=a.ts;b.ts
#         -DSTAMP=... -P CheckTranslations.cmake
file(MAKE_DIRECTORY ${WORK_DIR})
foreach(ts ${TS_FILES})
    get_filename_component(name ${ts} NAME)
    set(copy ${WORK_DIR}/${name})
    configure_file(${SOURCE_DIR}/${ts} ${copy} COPYONLY)
    execute_process(
        COMMAND ${LUPDATE} -silent -locations none -no-obsolete -extensions cpp,h ${SOURCE_DIR}
                -ts ${copy}
        RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "lupdate failed on ${ts}:\n${output}")
    endif()
    file(STRINGS ${copy} lines ENCODING UTF-8)
    set(unfinished "")
    set(source "")
    foreach(line IN LISTS lines)
        if(line MATCHES "<source>(.*)</source>")
            set(source "${CMAKE_MATCH_1}")
        elseif(line MATCHES "type=\"unfinished\"")
            string(APPEND unfinished "\n  ${source}")
        endif()
    endforeach()
    if(unfinished)
        message(FATAL_ERROR "${ts}: texts without a finished translation (run the "
                            "update_translations target, then translate them):${unfinished}")
    endif()
endforeach()
file(TOUCH ${STAMP})
