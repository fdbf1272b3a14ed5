#!/bin/sh
# Writes the compressed manual page of a program from its --help text.
# Usage: make-man.sh PROGRAM NAME VERSION SUMMARY OUT.1.gz
set -eu
program=$1 name=$2 version=$3 summary=$4 out=$5
here=$(dirname "$0")
"$program" --help | awk -f "$here/help-to-man.awk" -v name="$name" -v section=1 -v version="$version" \
    -v summary="$summary" | gzip -9n >"$out.tmp"
mv "$out.tmp" "$out"
