# arkctl's manual page from its own --help (run at build time):
#   cmake -DARKCTL=path/to/arkctl -DOUT=arkctl.1.gz -P cmake/manpage.cmake
# The page holds the help of arkctl and of each of its commands as they print
# it; gzip -9n leaves no time stamp in the file.
execute_process(COMMAND ${ARKCTL} --help OUTPUT_VARIABLE main RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${ARKCTL} --help failed")
endif()
set(text "${main}")
string(REGEX MATCH "Subcommands:\n.*" commands "${main}")
string(REGEX MATCHALL "\n  [a-z-]+" names "${commands}")
foreach(name ${names})
  string(STRIP "${name}" name)
  execute_process(COMMAND ${ARKCTL} ${name} --help OUTPUT_VARIABLE help)
  string(APPEND text "\n${help}")
endforeach()
string(REPLACE "${ARKCTL}" "arkctl" text "${text}")
# roff: a backslash is \e; a line beginning with . or ' is protected by \&.
string(REPLACE "\\" "\\e" text "${text}")
string(REGEX REPLACE "\n([.'])" "\n\\\\&\\1" text "${text}")
get_filename_component(dir ${OUT} DIRECTORY)
set(page ${dir}/arkctl.1)
file(WRITE ${page} ".TH ARKCTL 1 \"\" \"ark\" \"ark\"\n.SH NAME\narkctl \\- client of the ark backup and restore service\n"
                   ".SH SYNOPSIS\n.B arkctl\n[\\fIOPTIONS\\fR] \\fICOMMAND\\fR ...\n.SH DESCRIPTION\n.nf\n${text}.fi\n")
execute_process(COMMAND gzip -9nf ${page} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "gzip of ${page} failed")
endif()
