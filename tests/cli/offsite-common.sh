# What the off-site tests share, sourced after cli_begin: an SFTP server made by rclone on the
# loopback address (user "stow", password "right pass") serving $REMOTE_ROOT, started and stopped
# by the test, and the lines of an rclone config section "nas" reaching it. The server lists its
# folder afresh each time (no directory cache), so that what a test puts there directly is seen
# at once.

free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

SERVER_PID=
PORT=$(free_port)
REMOTE_ROOT="$WORK/server"
mkdir -p "$REMOTE_ROOT"

start_server() {
    rclone serve sftp --dir-cache-time 0s --addr "127.0.0.1:$PORT" --user stow --pass 'right pass' "$REMOTE_ROOT" \
        >>"$WORK/server.log" 2>&1 &
    SERVER_PID=$!
    wait_for listening "$PORT" || { echo "the SFTP server did not start" >&2; return 1; }
}
# Stops the server (with the signal given, TERM by default) and waits for it to end.
stop_server() {
    if [ -n "$SERVER_PID" ]; then
        kill "-${1:-TERM}" "$SERVER_PID" 2>/dev/null
        wait "$SERVER_PID" 2>/dev/null
        SERVER_PID=
    fi
}
# The config section of the server, with the password given ("right pass" by default).
nas_section() {
    printf '%s\n' "[nas]" "type = sftp" "host = 127.0.0.1" "port = $PORT" "user = stow" \
        "pass = $(rclone obscure "${1:-right pass}")"
}
# Runs "/RUN <job> /EXIT" in the background (VAR=value arguments set its environment), kills the
# server with SIGKILL once the caller's `uploading` command succeeds, and sets RC to the run's exit
# status.
kill_server_during_run() { # job, VAR=value...
    local job=$1 run_pid
    shift
    env "$@" timeout "$RUN_TIMEOUT" "$S" /RUN "$job" /EXIT >"$WORK/out" 2>"$WORK/err" &
    run_pid=$!
    wait_for uploading
    check "the upload was under way" uploading
    stop_server KILL
    wait "$run_pid"
    RC=$?
}
