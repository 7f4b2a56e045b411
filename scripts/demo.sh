#!/usr/bin/env bash
set -euo pipefail
echo "The demo arrives with the run loop: the host cannot supervise a client yet."
