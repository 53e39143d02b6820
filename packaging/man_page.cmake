# One man page from the command's own --help (help2man), with the page's own
# title and name: kalvex, kalvex-integrate, kalvex-reduce.
#   cmake -DHELP2MAN= -DPROGRAM= -DPAGE= -DHELP= -DNAME= -DVERSION= -DOUT= -P man_page.cmake
execute_process(
  COMMAND ${HELP2MAN} --no-info --version-string=${VERSION} --name=${NAME} --help-option=${HELP}
    --output=${OUT}.made ${PROGRAM}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man could not make ${PAGE}.1 from ${PROGRAM} ${HELP}")
endif()
file(READ ${OUT}.made text)
string(TOUPPER ${PAGE} title)
string(REGEX REPLACE "\n\\.TH KALVEX " "\n.TH ${title} " text "${text}")
string(REGEX REPLACE "\n\\.SH NAME\nkalvex " "\n.SH NAME\n${PAGE} " text "${text}")
file(WRITE ${OUT} "${text}")
file(REMOVE ${OUT}.made)
