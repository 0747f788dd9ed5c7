# Typesets the user guide: cmake -DGROFF=... -DINPUT=....ms -DOUTPUT=....pdf -P UserGuide.cmake
# A script rather than a shell line, so the output path may hold spaces and a
# failed run leaves no half-written PDF behind.
execute_process(COMMAND ${GROFF} -t -ms -Kutf8 -Tpdf ${INPUT}
                OUTPUT_FILE ${OUTPUT}.part
                ERROR_VARIABLE messages
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE ${OUTPUT}.part)
  message(FATAL_ERROR "[UserGuide] groff failed (${result}): ${messages}")
endif()
if(messages)
  message(WARNING "[UserGuide] ${messages}")
endif()
file(RENAME ${OUTPUT}.part ${OUTPUT})
