# Writes the manual page of gifkit from its own --help text, so that the two never disagree.
#   cmake -DGIFKIT=PROGRAM -DOUTPUT=FILE -DVERSION=X.Y.Z -P manpage.cmake
execute_process(COMMAND ${GIFKIT} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${GIFKIT} --help failed: ${status}")
endif()
# Troff: a backslash is written \e, a minus \-, and a line must not begin with a control character.
string(REPLACE "\\" "\\e" help "${help}")
string(REPLACE "-" "\\-" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
file(WRITE ${OUTPUT}.tmp ".TH GIFKIT 1 \"\" \"protractor ${VERSION}\" \"User Commands\"
.SH NAME
gifkit \\- inspect, decode, encode and colour\\-reduce GIF pictures
.SH SYNOPSIS
.B gifkit
.I COMMAND
.RI [ ARGS ]
.SH DESCRIPTION
.nf
${help}.fi
")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
