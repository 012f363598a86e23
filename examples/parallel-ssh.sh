#!/bin/bash
# Tests one list of domains on several machines over ssh with GNU parallel,
# one shard per machine: each runs zarvik on the whole list (read from its
# standard input) and keeps the lines of its shard; the reports come back on
# standard output and are joined here.
#
#   parallel-ssh.sh domains.txt host1 host2 host3 > all.jsonl
#
# Each host needs zarvik installed and must reach port 25 and the name
# servers itself.
set -euo pipefail
list=${1:?usage: parallel-ssh.sh LIST HOST...}
shift
[ $# -ge 1 ] || { echo "usage: parallel-ssh.sh LIST HOST..." >&2; exit 2; }
count=$#
# One job per host: {1} is the host, {#} its number from 1. --line-buffer
# passes whole lines on as they come, so that the shards' records never
# interleave within a line.
parallel --line-buffer --jobs "$count" \
  "ssh {1} zarvik --batch=- --jobs=256 --shard=\$(( {#} - 1 ))/$count < '$list'" ::: "$@"
