#!/bin/sh
# The programs need the C library and nothing else at run time: a C++
# library call that can throw (std::string_view::substr, for one) quietly
# brings in the C++ runtime library, which doubles the memory of a bare
# run. Usage: runtime_libraries_test.sh PROGRAM...
status=0
for program in "$@"; do
    needed=$(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | grep -v '^libc\.so\.' || true)
    if [ -n "$needed" ]; then
        echo "$program needs more than the C library:" $needed
        status=1
    fi
done
exit $status
