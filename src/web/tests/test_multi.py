"""Three `kvaction serve` processes on one PostgreSQL database behind nginx, started as
deploy/kvaction-serve@.service starts them and proxied as deploy/nginx-kvaction.conf says (TLS
on a certificate made here): a session from one process works on the others, the outbox is
delivered once with all three delivering, and a process killed under load loses no acknowledged
write and no notice; every webhook event arrives once, signed, whether three servers or two
`kvaction hooks deliver` commands send at once. The test owns its PostgreSQL cluster
(scripts/pg.sh), its nginx, its SMTP sink and its webhook receiver; nothing but loopback ports and
temporary folders."""
import hashlib
import hmac
import http.client
import http.server
import json
import os
import re
import shlex
import shutil
import signal
import socket
import socketserver
import ssl
import subprocess
import tempfile
import threading
import time
import urllib.parse
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[3]
UNIT = ROOT / "deploy" / "kvaction-serve@.service"
SITE = ROOT / "deploy" / "nginx-kvaction.conf"
DOCS = ROOT / "docs" / "deployment.md"
ADMIN_PW, OLIVIA_PW = "adminpass1", "oliviapass1"
# The health probe, in one place. Until the server answers /healthz, /signin answering stands in.
HEALTH, HEALTH_STAND_IN = "/healthz", "/signin"


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_until(condition, seconds, what):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if condition():
            return
        time.sleep(0.1)
    raise AssertionError(f"waited {seconds} s for {what}")


class Sink(socketserver.ThreadingTCPServer):
    """An SMTP relay on loopback that accepts everything and keeps each message's Message-ID."""
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self):
        super().__init__(("127.0.0.1", 0), SinkSession)
        self.lock = threading.Lock()
        self.message_ids = []
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def received(self):
        with self.lock:
            return list(self.message_ids)


class SinkSession(socketserver.StreamRequestHandler):
    def reply(self, line):
        self.wfile.write(line.encode() + b"\r\n")

    def handle(self):
        self.reply("220 sink ESMTP")
        while line := self.rfile.readline():
            verb = line.decode(errors="replace").strip().split(" ")[0].upper()
            if verb == "EHLO":
                self.reply("250-sink")
                self.reply("250 8BITMIME")
            elif verb == "DATA":
                self.reply("354 go on")
                message = []
                while (data := self.rfile.readline()) not in (b".\r\n", b".\n", b""):
                    message.append(data.decode(errors="replace"))
                found = re.search(r"^Message-ID: (\S+)", "".join(message), re.M | re.I)
                with self.server.lock:
                    self.server.message_ids.append(found.group(1) if found else None)
                self.reply("250 queued")
            elif verb == "QUIT":
                self.reply("221 bye")
                return
            else:
                self.reply("250 ok")


class HookReceiver(http.server.ThreadingHTTPServer):
    """A webhook receiver on loopback: checks each POST's signature with the secret and keeps
    (delivery ID, event, signature valid) for every request."""
    daemon_threads = True

    def __init__(self, secret):
        super().__init__(("127.0.0.1", 0), HookRequest)
        self.secret, self.lock, self.requests = secret.encode(), threading.Lock(), []
        threading.Thread(target=self.serve_forever, daemon=True).start()

    @property
    def url(self):
        return f"http://127.0.0.1:{self.server_address[1]}/kvaction"

    def received(self):
        with self.lock:
            return list(self.requests)


class HookRequest(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers["Content-Length"]))
        stamp = self.headers["X-KvAction-Timestamp"]
        expected = "sha256=" + hmac.new(self.server.secret, stamp.encode() + b"." + body,
                                        hashlib.sha256).hexdigest()
        valid = hmac.compare_digest(expected, self.headers["X-KvAction-Signature"] or "")
        with self.server.lock:
            self.server.requests.append((self.headers["X-KvAction-Delivery"],
                                         json.loads(body)["event"], valid))
        self.send_response(200 if valid else 401)
        self.end_headers()

    def log_message(self, *_):
        pass


def assert_each_once(receiver, keys):
    """Every delivery of keys arrived signed, each exactly once, and nothing else arrived."""
    received = receiver.received()
    assert all(valid for _, _, valid in received), received
    arrived = [key for key, _, _ in received]
    assert sorted(arrived) == sorted(keys), (len(arrived), len(keys))


class Web:
    """HTTP(S) requests with one connection each: a process killed between two requests costs no
    stale connection."""

    def __init__(self, context):
        self.context = context

    def request(self, url, method="GET", body=None, headers=None, timeout=30):
        parts = urllib.parse.urlsplit(url)
        if parts.scheme == "https":
            connection = http.client.HTTPSConnection(parts.hostname, parts.port, timeout=timeout,
                                                     context=self.context)
        else:
            connection = http.client.HTTPConnection(parts.hostname, parts.port, timeout=timeout)
        try:
            data = None if body is None else (body if isinstance(body, bytes) else body.encode())
            connection.request(method, parts.path + (f"?{parts.query}" if parts.query else ""),
                               body=data, headers=headers or {})
            answer = connection.getresponse()
            return answer.status, answer.getheaders(), answer.read().decode(errors="replace")
        finally:
            connection.close()

    def api(self, url, method, token, payload=None):
        headers = {"Authorization": f"Bearer {token}", "Content-Type": "application/json"}
        status, _, text = self.request(url, method, json.dumps(payload or {}), headers)
        return status, (json.loads(text) if text.startswith("{") else {})


def cookie_of(headers, name):
    for key, value in headers:
        if key.lower() == "set-cookie" and value.startswith(name + "="):
            return value.split(";", 1)[0]
    return None


class Cluster:
    """PostgreSQL, the sink, three serve processes and nginx, with what the checks need."""

    def __init__(self, kvaction, nginx, folder):
        self.kvaction, self.nginx_program, self.folder = kvaction, nginx, folder
        self.processes = {}
        self.nginx = None
        self.pgdir = Path(tempfile.mkdtemp(prefix="kvaction-multi-pg."))
        self.pg_env = {**os.environ, "KV_PG_PORT": str(free_port())}
        self.connection = subprocess.run(
            [str(ROOT / "scripts" / "pg.sh"), "start", str(self.pgdir)], env=self.pg_env,
            check=True, capture_output=True, text=True).stdout.strip()
        self.pg = dict(p.split("=", 1) for p in self.connection.split(";"))
        self.env = {**os.environ, "XDG_CONFIG_HOME": str(folder / "state")}
        self.sink = Sink()
        # Apart from the rest: an unprivileged nginx reads and writes here.
        self.nginx_dir = Path(tempfile.mkdtemp(prefix="kvaction-multi-nginx."))

    def stop(self):
        for process in [*self.processes.values(), self.nginx]:
            if process and process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
        self.sink.shutdown()
        subprocess.run([str(ROOT / "scripts" / "pg.sh"), "stop", str(self.pgdir)], env=self.pg_env,
                       capture_output=True)
        shutil.rmtree(self.nginx_dir, ignore_errors=True)

    def run(self, args, password):
        done = subprocess.run([self.kvaction, "--connection", self.connection, *args],
                              input=password + "\n", text=True, capture_output=True, timeout=60,
                              env=self.env)
        assert done.returncode == 0, done.stderr
        return done.stdout

    def sql(self, statement):
        """Rows of a statement, read as the database's owner with psql."""
        done = subprocess.run(
            ["psql", "-h", self.pg["Host"], "-p", self.pg["Port"], "-U", self.pg["User ID"], "-d",
             self.pg["Database"], "-qAt", "-F", "\t", "-v", "ON_ERROR_STOP=1", "-c", statement],
            check=True, capture_output=True, text=True)
        return [line.split("\t") for line in done.stdout.splitlines()]

    def prepare(self):
        admin = ["--user", "admin", "--password-stdin"]
        self.run(["--password-stdin", "init", "--admin", "admin"], ADMIN_PW)
        self.run([*admin, "user", "add", "olivia", "--email", "olivia@example.org"],
                 ADMIN_PW + "\n" + OLIVIA_PW)
        self.run([*admin, "user", "add", "adam", "--email", "adam@example.org"],
                 ADMIN_PW + "\n" + "adampass1")
        relay = f"127.0.0.1:{self.sink.server_address[1]}"
        for key, value in [("AutoEmail", "true"), ("SMTPHost", relay)]:
            self.run([*admin, "settings", "set", key, value], ADMIN_PW)
        # As an operator readies the service account: one sign-in whose saved session lets each
        # process deliver the outbox.
        self.run([*admin, "login"], ADMIN_PW)

    def start_serve(self, port):
        """One process as the unit starts it: its ExecStart, with the unit's variables set."""
        line = next(text for text in UNIT.read_text().splitlines() if text.startswith("ExecStart="))
        variables = {"${KV_CONNECTION}": [self.connection], "${KV_BASE_URL}": [self.base_url],
                     "$KV_SERVE_OPTIONS": ["--mail-interval", "1"],
                     "/usr/bin/kvaction": [self.kvaction]}
        command = []
        for word in shlex.split(line[len("ExecStart="):]):
            command += variables.get(word, [word.replace("%i", str(port))])
        log = open(self.folder / f"serve-{port}.log", "a")
        self.processes[port] = subprocess.Popen(command, stdout=log, stderr=log, env=self.env)
        wait_until(lambda: self.answers(f"http://127.0.0.1:{port}/signin"), 30,
                   f"serve on port {port}")

    def answers(self, url):
        try:
            return self.web.request(url, timeout=2)[0] == 200
        except OSError:
            return False

    def start(self):
        self.prepare()
        self.ports = [free_port() for _ in range(3)]
        self.http_port, self.https_port = free_port(), free_port()
        self.base_url = f"https://127.0.0.1:{self.https_port}/"
        nginx_dir = self.nginx_dir
        cert, key = nginx_dir / "cert.pem", nginx_dir / "key.pem"
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                        "-keyout", str(key), "-out", str(cert)], check=True, capture_output=True)
        context = ssl.create_default_context(cafile=str(cert))
        self.web = Web(context)
        for port in self.ports:
            self.start_serve(port)
        self.start_nginx(nginx_dir, cert, key)
        self.url = self.base_url.rstrip("/")

    def start_nginx(self, folder, cert, key):
        """The site file of deploy/ with this test's ports and certificate, in a server of its own:
        pid, logs and temporary files in folder, run as an unprivileged user."""
        site = SITE.read_text()
        swaps = [("127.0.0.1:8080", f"127.0.0.1:{self.ports[0]}"),
                 ("127.0.0.1:8081", f"127.0.0.1:{self.ports[1]}"),
                 ("127.0.0.1:8082", f"127.0.0.1:{self.ports[2]}"),
                 ("listen 80;", f"listen 127.0.0.1:{self.http_port};"),
                 ("listen 443 ssl", f"listen 127.0.0.1:{self.https_port} ssl"),
                 ("/etc/letsencrypt/live/actions.example.org/fullchain.pem", str(cert)),
                 ("/etc/letsencrypt/live/actions.example.org/privkey.pem", str(key))]
        for old, new in swaps:
            assert site.count(old) == 1, f"{SITE.name} no longer holds '{old}' once"
            site = site.replace(old, new)
        (folder / "site.conf").write_text(site)
        temp = "".join(f"    {kind}_temp_path {folder}/{kind};\n"
                       for kind in ["client_body", "proxy", "fastcgi", "uwsgi", "scgi"])
        (folder / "nginx.conf").write_text(
            f"daemon off;\nworker_processes 1;\npid {folder}/nginx.pid;\n"
            f"error_log {folder}/error.log warn;\nevents {{ worker_connections 256; }}\n"
            f"http {{\n    access_log {folder}/access.log;\n{temp}"
            f"    include {folder}/site.conf;\n}}\n")
        command = [self.nginx_program, "-p", str(folder), "-c", str(folder / "nginx.conf"),
                   "-e", str(folder / "error.log")]
        if os.geteuid() == 0:
            # Not as root: an unprivileged account that owns the folder, as in any user's session.
            for path in [folder, *folder.iterdir()]:
                shutil.chown(path, "nobody")
            command = ["runuser", "-u", "nobody", "--", *command]
        subprocess.run([*command, "-t"], check=True, capture_output=True)
        self.nginx = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_until(lambda: self.answers(self.base_url + "signin"), 20, "nginx")

    def kill_and_restart(self, port, down_seconds):
        self.processes[port].send_signal(signal.SIGKILL)
        self.processes[port].wait()
        time.sleep(down_seconds)
        self.start_serve(port)

    def healthy(self, port):
        status = self.web.request(f"http://127.0.0.1:{port}{HEALTH}", timeout=5)[0]
        if status == 404:
            status = self.web.request(f"http://127.0.0.1:{port}{HEALTH_STAND_IN}", timeout=5)[0]
        return status

    def outbox(self):
        return self.sql('select "MessageID", "ActionID", "Attempts", "Sent" is not null '
                        'from "ActionOutbox"')

    def delivered_once(self, seconds):
        """Waits until every mail of the outbox is marked sent; then each arrived exactly once,
        or, for a mail whose first attempt a killed process made, at most twice under its one
        Message-ID (mail readers show one message)."""
        wait_until(lambda: all(sent == "t" for *_, sent in self.outbox()), seconds,
                   "every mail of the outbox to be sent")
        time.sleep(1.5)  # a round that handed a mail over just now marks it a moment later
        received = self.sink.received()
        assert None not in received, "a mail without Message-ID arrived"
        for message_id, _, attempts, _ in self.outbox():
            copies = received.count(message_id)
            assert copies == 1 or (copies == 2 and int(attempts) > 1), (message_id, copies)
        known = {row[0] for row in self.outbox()}
        assert set(received) <= known, "mail arrived that the outbox does not hold"


@pytest.fixture(scope="module")
def cluster(request, tmp_path_factory):
    folder = tmp_path_factory.mktemp("multi")
    made = Cluster(request.config.getoption("--kvaction"), request.config.getoption("--nginx"),
                   folder)
    try:
        made.start()
        yield made
    finally:
        made.stop()


def sign_in_api(cluster, url, user, password):
    status, body = cluster.web.api(url + "/api/v1/session", "POST", "",
                                   {"user": user, "password": password})
    assert status == 201, body
    return body["token"]


def test_the_deployment_docs_show_the_files_the_test_runs():
    docs = DOCS.read_text()
    for path in [UNIT, SITE]:
        assert path.read_text().strip() in docs, f"docs/deployment.md does not show {path.name}"


def test_a_session_from_one_process_works_on_the_others(cluster):
    web = cluster.web
    # A page sign-in through nginx: its cookie opens the list on every process.
    status, headers, page = web.request(cluster.url + "/signin")
    assert status == 200
    csrf = re.search(r'name="csrf" value="([0-9a-f]+)"', page).group(1)
    form = urllib.parse.urlencode({"user": "olivia", "password": OLIVIA_PW, "csrf": csrf})
    status, headers, _ = web.request(
        cluster.url + "/signin", "POST", form,
        {"Content-Type": "application/x-www-form-urlencoded", "Origin": cluster.url,
         "Cookie": cookie_of(headers, "kvsignin")})
    assert status in (302, 303), status
    session = cookie_of(headers, "kvsession")
    assert session, headers
    assert any(value.startswith(session) and "Secure" in value
               for key, value in headers if key.lower() == "set-cookie"), headers
    for port in cluster.ports:
        status, _, page = web.request(f"http://127.0.0.1:{port}/", headers={"Cookie": session})
        assert status == 200 and "olivia" in page.lower(), port
    # An API token made on the first process answers on the others, and is ended for all.
    token = sign_in_api(cluster, f"http://127.0.0.1:{cluster.ports[0]}", "olivia", OLIVIA_PW)
    for port in cluster.ports[1:]:
        status, body = web.api(f"http://127.0.0.1:{port}/api/v1/session", "GET", token)
        assert (status, body.get("user")) == (200, "olivia"), port
    assert web.api(f"http://127.0.0.1:{cluster.ports[1]}/api/v1/session", "DELETE", token)[0] == 204
    assert web.api(f"http://127.0.0.1:{cluster.ports[2]}/api/v1/session", "GET", token)[0] == 401


def test_every_notice_is_delivered_once_by_three_processes(cluster):
    token = sign_in_api(cluster, cluster.url, "olivia", OLIVIA_PW)
    for n in range(24):
        status, body = cluster.web.api(cluster.url + "/api/v1/actions", "POST", token,
                                       {"fields": {"Subject": f"notice {n}", "Assignee": "adam"}})
        assert status == 201, body
    assert len(cluster.outbox()) >= 24
    cluster.delivered_once(30)


def test_every_webhook_event_is_sent_once_signed_by_three_processes(cluster, tmp_path):
    receiver = HookReceiver("a secret the receiver shares")
    (tmp_path / "secret").write_text("a secret the receiver shares\n")
    admin = ["--user", "admin", "--password-stdin"]
    added = cluster.run([*admin, "hooks", "add", receiver.url, "--events", "created,changed",
                         "--secret-file", str(tmp_path / "secret")], ADMIN_PW)
    hook = re.search(r"Webhook (\d+) added", added).group(1)
    try:
        token = sign_in_api(cluster, cluster.url, "olivia", OLIVIA_PW)
        for n in range(12):
            status, body = cluster.web.api(cluster.url + "/api/v1/actions", "POST", token,
                                           {"fields": {"Subject": f"hooked {n}"}})
            assert status == 201, body
            status, body = cluster.web.api(cluster.url + f"/api/v1/actions/{body['id']}", "PATCH",
                                           token, {"changes": {"Description": f"edit {n}"}})
            assert status == 200, body
        query = ('select "DeliveryKey", "Delivered" is not null from "ActionHookDeliveries" '
                 f'where "HookID" = {hook}')
        wait_until(lambda: all(done == "t" for _, done in cluster.sql(query)), 30,
                   "every webhook delivery to be sent")
        rows = cluster.sql(query)
        assert len(rows) == 24
        time.sleep(1.5)  # nothing more may come
        assert_each_once(receiver, [key for key, _ in rows])
        assert sorted(event for _, event, _ in receiver.received()) == ["changed"] * 12 + ["created"] * 12
    finally:
        cluster.run([*admin, "hooks", "rm", hook], ADMIN_PW)
        receiver.shutdown()


def test_two_deliver_commands_at_once_send_each_event_once_on_sqlite(request, tmp_path):
    kvaction = request.config.getoption("--kvaction")
    env = {**os.environ, "XDG_CONFIG_HOME": str(tmp_path / "state"),
           "KVACTION_DB": str(tmp_path / "hooks.kvdb")}

    def run(args, stdin=ADMIN_PW):
        done = subprocess.run([kvaction, *args], input=stdin + "\n", text=True,
                              capture_output=True, timeout=60, env=env)
        assert done.returncode == 0, done.stderr
        return done.stdout

    receiver = HookReceiver("another shared secret!")
    (tmp_path / "secret").write_text("another shared secret!\n")
    try:
        run(["--password-stdin", "init", "--admin", "admin"])
        run(["--user", "admin", "--password-stdin", "login"])
        run(["hooks", "add", receiver.url, "--secret-file", str(tmp_path / "secret")])
        for n in range(16):
            run(["add", "--subject", f"hooked {n}"])
        both = [subprocess.Popen([kvaction, "hooks", "deliver"], env=env, text=True,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                for _ in range(2)]
        said = [process.communicate(timeout=60) for process in both]
        assert all(process.returncode == 0 for process in both), said
        delivered = sum(int(re.search(r"Delivered (\d+)", out).group(1)) for out, _ in said)
        assert delivered == 16, said
        listed = json.loads(run(["--json", "hooks", "deliveries"]))
        assert [row["State"] for row in listed] == ["delivered"] * 16
        assert_each_once(receiver, [row["Delivery"] for row in listed])
    finally:
        receiver.shutdown()


class Load:
    """Writers that create actions and edit them through nginx, each keeping what was
    acknowledged: created subjects with their IDs, and each action's acknowledged edits."""

    def __init__(self, cluster, token, writers):
        self.cluster, self.token = cluster, token
        self.stop = threading.Event()
        self.lock = threading.Lock()
        self.created, self.unsure, self.edits, self.failures = {}, set(), {}, []
        self.threads = [threading.Thread(target=self.write, args=(w,)) for w in range(writers)]

    def write(self, writer):
        mine, n = [], 0
        while not self.stop.is_set():
            n += 1
            subject = f"load {writer}-{n}"
            try:
                status, body = self.cluster.web.api(
                    self.cluster.url + "/api/v1/actions", "POST", self.token,
                    {"fields": {"Subject": subject, "Assignee": "adam", "Description": "new"}})
            except OSError as error:
                status, body = 0, {"error": str(error)}
            with self.lock:
                if status == 201:
                    self.created[subject] = body["id"]
                    mine.append(body["id"])
                else:
                    self.unsure.add(subject)
                    self.failures.append((status, body))
            if mine and n % 2 == 0:
                self.edit(mine[-1 - (n // 2) % len(mine)], f"edit {writer}-{n}")

    def edit(self, action_id, text):
        try:
            status, _ = self.cluster.web.api(self.cluster.url + f"/api/v1/actions/{action_id}",
                                             "PATCH", self.token, {"changes": {"Description": text}})
        except OSError:
            status = 0
        with self.lock:
            self.edits.setdefault(action_id, []).append((text, status == 200))

    def __enter__(self):
        for thread in self.threads:
            thread.start()
        return self

    def __exit__(self, *_):
        self.stop.set()
        for thread in self.threads:
            thread.join()


def test_a_process_killed_under_load_loses_nothing(cluster):
    token = sign_in_api(cluster, cluster.url, "olivia", OLIVIA_PW)
    victim = cluster.ports[1]
    with Load(cluster, token, writers=4) as load:
        time.sleep(4)
        cluster.kill_and_restart(victim, down_seconds=2)
        time.sleep(4)
    print(f"acknowledged creates {len(load.created)}, lost answers {len(load.failures)}, "
          f"edits {sum(len(e) for e in load.edits.values())}")
    assert len(load.created) > 20, "the writers got too little done to show anything"
    # Only a request in flight at the kill may fail, and only as the proxy reports a lost answer.
    assert all(status in (0, 502, 504) for status, _ in load.failures), load.failures
    assert len(load.failures) <= 4 * 2, load.failures

    rows = cluster.sql('select "Subject", count(*), min("ActionID"), min("Description") '
                       "from actions where \"Subject\" like 'load %' group by \"Subject\"")
    stored = {subject: (int(count), int(action_id), text) for subject, count, action_id, text in rows}
    assert all(count == 1 for count, _, _ in stored.values()), "an action was stored twice"
    for subject, action_id in load.created.items():
        assert subject in stored and stored[subject][1] == action_id, subject
    assert set(stored) <= set(load.created) | load.unsure, "an action appeared that nobody made"

    events = dict(cluster.sql('select "ActionID", count(*) from "ActionEvents" group by "ActionID"'))
    notices = dict(cluster.sql('select "ActionID", count(*) from "ActionOutbox" group by "ActionID"'))
    for subject, (_, action_id, text) in stored.items():
        edits = load.edits.get(action_id, [])
        acknowledged = [n for n, (_, ok) in enumerate(edits) if ok]
        # The history holds the creation and every acknowledged edit; the outbox one notice each.
        assert int(events.get(str(action_id), 0)) >= 1 + len(acknowledged), subject
        assert int(notices.get(str(action_id), 0)) >= 1 + len(acknowledged), subject
        if acknowledged:
            # The stored text is the last acknowledged edit's, or a later one's that lost its answer.
            assert text in [t for t, _ in edits[acknowledged[-1]:]], (subject, text, edits)
    # A mail the killed process had claimed waits out its back-off (a minute) before another
    # process sends it.
    cluster.delivered_once(90)
    print(f"mails {len(cluster.outbox())}, received {len(cluster.sink.received())}")
    for port in cluster.ports:
        assert cluster.healthy(port) == 200, port
