# Writes the manual page of gifkit from its own help texts, so that they never disagree: the
# general text (gifkit --help), then each command's (gifkit COMMAND --help).
#   cmake -DGIFKIT=PROGRAM -DOUTPUT=FILE -DVERSION=X.Y.Z -P manpage.cmake
function(help_text out)
  execute_process(COMMAND ${GIFKIT} ${ARGN} --help OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${GIFKIT} ${ARGN} --help failed: ${status}")
  endif()
  # Troff: a backslash is written \e, a minus \-, and no line may begin with a control character.
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

help_text(general)
# The commands: the lines of "commands:" up to the next empty line, two spaces and a name each.
string(REGEX MATCH "\ncommands:\n[^\n]+(\n[^\n]+)*" listing "${general}")
string(REGEX MATCHALL "\n  [a-z]+" commands "${listing}")
set(sections "")
foreach(command ${commands})
  string(STRIP "${command}" command)
  help_text(text ${command})
  string(APPEND sections ".SS ${command}\n.nf\n${text}.fi\n")
endforeach()
if(sections STREQUAL "")
  message(FATAL_ERROR "no commands found in the help text of ${GIFKIT}")
endif()

file(WRITE ${OUTPUT}.tmp ".TH GIFKIT 1 \"\" \"protractor ${VERSION}\" \"User Commands\"
.SH NAME
gifkit \\- inspect, decode, encode and colour\\-reduce GIF pictures
.SH SYNOPSIS
.B gifkit
.I COMMAND
.RI [ ARGS ]
.SH DESCRIPTION
.nf
${general}.fi
.SH COMMANDS
${sections}")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
