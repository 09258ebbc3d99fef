# add_man_page_test(NAME PAGE...): the test NAME. Every page must render
# without a single warning from groff, and mandoc's checker must find
# nothing in it either.
include_guard(GLOBAL)

function(add_man_page_test name)
  add_test(NAME ${name}
    COMMAND sh -c "for page; do groff -man -ww -z \"$page\"; mandoc -T lint \"$page\"; done 2>&1 | tee /dev/stderr | grep -q . && exit 1 || exit 0"
            check ${ARGN})
endfunction()
