#!/bin/sh
# Runs a test executable as an unprivileged user: root passes every permission check, so the
# cases about files that cannot be written only mean something under another user. The
# executable is copied to a folder that user can reach, wherever the build tree lives.
set -eu
bin="$1"
shift
if [ "$(id -u)" != 0 ]; then
  exec "$bin" "$@"
fi
dir=$(mktemp -d /tmp/korvant-unprivileged.XXXXXX)
trap 'rm -rf "$dir"' EXIT
chmod 755 "$dir"
cp "$bin" "$dir/"
name=$(basename "$bin")
chmod 755 "$dir/$name"
cd "$dir"
setpriv --reuid=65534 --regid=65534 --clear-groups "$dir/$name" "$@"
