# Sourced by the benchmark scripts: a static nginx of their own on 127.0.0.1,
# serving WORK/www, with every temporary and log file under WORK.
#   start_static_nginx WORK PORT WORKERS CONNECTIONS [EXTRA_HTTP_LINES]
# Stop it with stop_static_nginx WORK.
start_static_nginx() {
  local work="$1" port="$2" workers="$3" connections="$4" extra="${5:-}"
  local user_line=""
  [ "$(id -u)" = 0 ] && user_line="user root;"
  mkdir -p "$work/www" "$work/tmp"
  cat >"$work/nginx.conf" <<CONF
$user_line
worker_processes $workers;
daemon on;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections $connections; }
http {
  access_log off;
  client_body_temp_path $work/tmp/body;
  proxy_temp_path $work/tmp/proxy;
  fastcgi_temp_path $work/tmp/fastcgi;
  uwsgi_temp_path $work/tmp/uwsgi;
  scgi_temp_path $work/tmp/scgi;
  sendfile on;
  $extra
  server { listen 127.0.0.1:$port; root $work/www; }
}
CONF
  nginx -c "$work/nginx.conf" -p "$work" -e "$work/error.log"
}

stop_static_nginx() {
  kill -QUIT "$(cat "$1/nginx.pid")" 2>/dev/null || true
}
