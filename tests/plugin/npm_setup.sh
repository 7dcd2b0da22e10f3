#!/bin/sh
# Installs the test's npm modules (pinned by package-lock.json) into the
# folder given, once per lock file: puppeteer-core only, no browser download.
set -eu
dir=$1
cd "$dir"
if [ -f node_modules/.vellumate-lock ] && cmp -s package-lock.json node_modules/.vellumate-lock; then
  exit 0
fi
PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --ignore-scripts --loglevel=error
cp package-lock.json node_modules/.vellumate-lock
