#!/usr/bin/env bash
# check_imports.sh OBJDUMP LIST IMAGE...: reads each image's headers and import tables
# (objdump -p) and fails when a 32-bit one asks for a system version above 4.0, imports from a DLL the list
# does not name, or imports a function the list denies. It runs no Windows program, so it checks
# the 32-bit build on any host.
set -euo pipefail
objdump=$1 list=$2
shift 2
status=0
for image in "$@"; do
  [ -f "$image" ] || { echo "missing image: $image"; status=1; continue; }
  headers=$("$objdump" -p "$image")
  # Only a 32-bit image (PE32, magic 010b) is ever offered to the Windows 95 loader.
  fields=
  [ "$(awk '$1 == "Magic" { print $2 }' <<<"$headers")" = 010b ] && fields="MajorOSystemVersion MajorSubsystemVersion"
  for field in $fields; do
    version=$(awk -v field="$field" '$1 == field { print $2 }' <<<"$headers")
    if [ -z "$version" ] || [ "$version" -gt 4 ]; then
      echo "$image: $field is ${version:-missing}; the Windows 95 loader takes 4 at most"
      status=1
    fi
  done
  # "DLL NAME FUNCTION" for every import, from the tables objdump interprets.
  imports=$(awk '
    /^[ \t]*DLL Name:/ { dll = $3; next }
    /^$/ { if (dll != "" && seen) dll = ""; seen = 0; next }
    dll != "" && /^\t[0-9a-f]+\t/ { seen = 1; print dll, $NF }' <<<"$headers")
  if [ -z "$imports" ]; then
    echo "$image: no import read (objdump's format changed?)"
    status=1
    continue
  fi
  report=$(awk -v image="$image" '
    NR == FNR {
      if ($1 == "dll") allowed[tolower($2)] = 1
      if ($1 == "deny") { name = tolower($2); $1 = ""; $2 = ""; denied[name] = $0 }
      next
    }
    !(tolower($1) in allowed) && !(tolower($1) in reported) {
      print image ": imports from " $1 ", which the list does not name"; reported[tolower($1)] = 1
    }
    tolower($2) in denied { print image ": imports " $1 " " $2 " (not in the first Windows 95 release:" denied[tolower($2)] ")" }
  ' "$list" - <<<"$imports")
  count=$(wc -l <<<"$imports")
  if [ -n "$report" ]; then
    echo "$report"
    status=1
  else
    echo "$image: $count imports, none denied"
  fi
done
exit $status
