#!/bin/sh
# The stripped module leads a debugger to its debug information: addr2line,
# given only the module, names the source line of an exported function,
# which it can find only through the module's debug link.
#   debuglink.sh TRIPLE MODULE
set -eu
triple=$1 module=$2
# The function's address from the debug file's symbols (i686 decorates it).
address=$("$triple-nm" "$module.debug" | sed -n 's/^\([0-9a-f]*\) T _\{0,1\}DllGetClassObject\(@[0-9]*\)\{0,1\}$/0x\1/p')
[ -n "$address" ] || { echo "DllGetClassObject not in $module.debug"; exit 1; }
line=$("$triple-addr2line" -e "$module" "$address")
echo "$address: $line"
case $line in
  *ComServer.cpp:[0-9]*) ;;
  *) echo "no source line through the debug link of $module"; exit 1 ;;
esac
