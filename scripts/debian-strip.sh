#!/bin/sh
# SPDX-License-Identifier: MIT
# The strip that scripts/make-deb.sh gives CPack: as Debian's own packaging strips, symbols and
# the compiler's notes go, which nothing in the package reads.
exec strip --remove-section=.comment --remove-section=.note --strip-unneeded "$@"
