#!/usr/bin/env bash
# Checks a Windows module's binding with objdump: its export table holds
# mexFunction and nothing else, and it imports only from the host library
# and from Windows system DLLs (no MinGW runtime DLL that a user's machine
# lacks).
# usage: check_pe_binding.sh <objdump> <module> <host dll name>
set -euo pipefail
objdump=$1
module=$2
host=$3

headers=$("$objdump" -p "$module")
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" |
  sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p')
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
echo "exports: $(tr '\n' ' ' <<<"$exports")"
echo "imports: $(tr '\n' ' ' <<<"$imports")"
status=0
if [ "$exports" != "mexFunction" ]; then
  echo "FAIL: $module must export mexFunction alone" >&2
  status=1
fi
while read -r dll; do
  lower=$(tr '[:upper:]' '[:lower:]' <<<"$dll")
  case $lower in
    "$(tr '[:upper:]' '[:lower:]' <<<"$host")" | kernel32.dll | msvcrt.dll | \
      ucrtbase.dll | api-ms-win-crt-*.dll | user32.dll | advapi32.dll) ;;
    *)
      echo "FAIL: $module imports $dll" >&2
      status=1
      ;;
  esac
done <<<"$imports"
if ! grep -qix "$host" <<<"$imports"; then
  echo "FAIL: $module does not import the host library $host" >&2
  status=1
fi
exit $status
