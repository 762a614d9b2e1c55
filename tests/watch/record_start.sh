#!/bin/sh
# Stands in for tarvic in the watcher's tests: notes its arguments, one start a line.
printf '%s\n' "$*" >>"${WATCH_RECORD:?}"
