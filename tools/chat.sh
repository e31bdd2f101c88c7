#!/bin/sh
# Starts a private IRC server on a free loopback port and the chat client connected to it;
# the server stops when the client exits.
set -eu
BUILD=${1:-build}
DIR=$(mktemp -d)
trap 'kill "$(cat "$DIR/pid" 2>/dev/null)" 2>/dev/null || true; rm -rf "$DIR"' EXIT INT TERM
PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat > "$DIR/ngircd.conf" <<CONF
[Global]
    Name = irc.localhost
    Info = Local test server
    Listen = 127.0.0.1
    Ports = $PORT
    PidFile = $DIR/pid
    MotdPhrase = Welcome to the local test server.
[Limits]
    MaxNickLength = 30
[Options]
    Ident = no
    PAM = no
    DNS = no
CONF
ngircd -n -f "$DIR/ngircd.conf" >"$DIR/ngircd.log" 2>&1 &
echo $! > "$DIR/pid"
# Wait (at most five seconds) until the server takes connections.
python3 - "$PORT" <<'PY'
import socket, sys, time
deadline = time.monotonic() + 5
while time.monotonic() < deadline:
    try:
        socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=0.2).close()
        break
    except OSError:
        time.sleep(0.05)
PY
export XDG_CONFIG_HOME="$DIR/config"
mkdir -p "$XDG_CONFIG_HOME/vesk32"
printf '[Vesk]\nnick=newcomer\nanick=newcomer_\nuser=New Comer\nemail=newcomer@localhost\nhost=Local server:127.0.0.1:%s\n' "$PORT" \
    > "$XDG_CONFIG_HOME/vesk32/vesk.ini"
# A few aliases, events, a CTCP reply and a timer, so that a newcomer sees the language work.
cat "$(dirname "$0")/chat-example/scripts.ini" >> "$XDG_CONFIG_HOME/vesk32/vesk.ini"
"$BUILD/chat/vesk32" -i "$XDG_CONFIG_HOME/vesk32/vesk.ini" -s 127.0.0.1:"$PORT" || true
