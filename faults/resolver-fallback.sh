#!/usr/bin/env bash
# The system resolver failing: the public-DNS fallback reaches the update
# server by address (native and Windows headless updaters); then the DNS
# peer down as well. Rows on stdout; see resolver_rows.py.
exec python3 "$(dirname "${BASH_SOURCE[0]}")/resolver_rows.py"
