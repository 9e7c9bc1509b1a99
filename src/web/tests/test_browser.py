"""The web front end in a real headless Chromium: sign-in, the list, an e-mail's link, editing
with a forbidden field, a second person's change and the conflict, a review move, attachments,
hostile input and sign-out. Runs against a `kvaction serve` on a fresh SQLite file or a fresh
PostgreSQL database (KV_TEST_PG names the server)."""
import os
import re
import shutil
import socket
import subprocess
import tempfile
import time
import urllib.error
import urllib.parse
import urllib.request
import uuid

import pytest
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.common.exceptions import WebDriverException
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

ADMIN_PW, OLIVIA_PW, ADAM_PW = "adminpass1", "oliviapass1", "adampass1"
HOSTILE = "<script>alert(1)</script> pump"


def run(kv, db, args, stdin=""):
    done = subprocess.run([kv, *db, "--password-stdin", *args], input=stdin, text=True,
                          capture_output=True, timeout=60,
                          env={**os.environ, "XDG_CONFIG_HOME": tempfile.gettempdir()})
    assert done.returncode == 0, done.stderr
    return done.stdout


def postgres_database():
    server = os.environ.get("KV_TEST_PG")
    assert server, "KV_TEST_PG names no PostgreSQL server"
    parts = dict(p.split("=", 1) for p in server.split(";") if "=" in p)
    name = "kvweb_" + uuid.uuid4().hex[:10]
    psql = shutil.which("psql") or "/usr/bin/psql"
    subprocess.run([psql, "-h", parts["Host"], "-p", parts["Port"], "-U", parts["User ID"],
                    "-d", parts["Database"], "-c", f"create database {name}"], check=True,
                   capture_output=True)
    parts["Database"] = name
    return ";".join(f"{k}={v}" for k, v in parts.items())


@pytest.fixture(scope="module")
def site(request, tmp_path_factory):
    kv = request.config.getoption("--kvaction")
    folder = tmp_path_factory.mktemp("web")
    if request.config.getoption("--engine") == "postgresql":
        db = ["--connection", postgres_database()]
    else:
        db = ["--db", str(folder / "actions.kvdb")]
    run(kv, db, ["init", "--admin", "admin"], ADMIN_PW + "\n")
    admin = lambda args, stdin="": run(kv, db, ["--user", "admin", *args], ADMIN_PW + "\n" + stdin)
    (folder / "files").mkdir()
    admin(["settings", "set", "AttachmentPath", str(folder / "files")])
    groups = admin(["workgroup", "add", "Doers", "50,64,81,82"])
    doers = re.search(r"(\d+)", groups).group(1)
    admin(["user", "add", "olivia", "--name", "Olivia Owner"], OLIVIA_PW + "\n")
    admin(["user", "add", "adam", "--name", "Adam Assignee", "--group", doers], ADAM_PW + "\n")
    olivia = lambda args: run(kv, db, ["--user", "olivia", *args], OLIVIA_PW + "\n")
    olivia(["add", "--subject", "Replace the cooling pump", "--assignee", "adam",
            "--due", "1/15/2030", "--description", "The pump in hall 2 leaks."])
    olivia(["add", "--subject", HOSTILE, "--assignee", "adam"])
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    server = subprocess.Popen([kv, *db, "serve", "--listen", f"127.0.0.1:{port}"],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    assert "Serving" in server.stdout.readline()
    yield f"http://127.0.0.1:{port}"
    server.terminate()
    server.wait(timeout=10)


def browser(folder):
    options = webdriver.ChromeOptions()
    for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--window-size=1200,900", f"--user-data-dir={folder}"]:
        options.add_argument(flag)
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    return webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)


@pytest.fixture
def adam(tmp_path):
    driver = browser(tmp_path / "adam")
    yield driver
    driver.quit()


@pytest.fixture
def olivia(tmp_path):
    driver = browser(tmp_path / "olivia")
    yield driver
    driver.quit()


def sign_in(driver, user, password):
    driver.find_element(By.ID, "user").send_keys(user)
    driver.find_element(By.ID, "password").send_keys(password)
    click(driver, "sign-in")


def click(driver, element_id):
    """Presses a button or link from the keyboard, wherever it is on the page."""
    page = driver.find_element(By.TAG_NAME, "html")
    driver.find_element(By.ID, element_id).send_keys(Keys.ENTER)
    WebDriverWait(driver, 10).until(lambda _: gone(page))


def gone(element):
    """Whether the page of element was replaced. Chromium reports a node of a page being replaced
    either as stale or, in a race, as "not in the document": both mean the new page is coming."""
    try:
        element.is_enabled()
        return False
    except WebDriverException:
        return True


def field(driver, column):
    return driver.find_element(By.ID, "f-" + column)


def set_date(driver, column, iso):
    """Fills a date input: its value is ISO whatever the browser shows."""
    driver.execute_script("arguments[0].value = arguments[1]", field(driver, column), iso)


def post(site, path, cookie, data):
    body = urllib.parse.urlencode(data).encode()
    req = urllib.request.Request(site + path, data=body, headers={"Cookie": cookie})
    try:
        with urllib.request.urlopen(req) as answer:
            return answer.status, answer.read().decode()
    except urllib.error.HTTPError as error:
        return error.code, error.read().decode()


def shoot(request, driver, name):
    folder = request.config.getoption("--screenshots")
    if folder and request.config.getoption("--engine") == "sqlite":
        os.makedirs(folder, exist_ok=True)
        driver.save_screenshot(os.path.join(folder, name + ".png"))


def test_walk_through(request, site, adam, olivia, tmp_path):
    # Sign in, then my actions: both of adam's actions, the hostile subject as plain text.
    adam.get(site + "/")
    assert "/signin" in adam.current_url
    sign_in(adam, "adam", ADAM_PW)
    table = adam.find_element(By.ID, "actions")
    assert "Replace the cooling pump" in table.text
    assert HOSTILE in table.text
    assert adam.find_elements(By.TAG_NAME, "script") == []
    shoot(request, adam, "list")

    # An e-mail's link opens the action; olivia, not signed in, goes through sign-in and back.
    link = adam.find_element(By.LINK_TEXT, "Replace the cooling pump").get_attribute("href")
    action_id = link.rsplit("/", 1)[1]
    mail_link = f"{site}/default.asp?LinkType=2&DBID=0&ActionID={action_id}"
    olivia.get(mail_link)
    sign_in(olivia, "olivia", OLIVIA_PW)
    assert olivia.current_url.endswith(f"/action/{action_id}")
    adam.get(mail_link)
    assert adam.current_url.endswith(f"/action/{action_id}")
    assert "Assigned to Adam Assignee" in adam.find_element(By.ID, "status").text
    assert "Adam Assignee" in adam.find_element(By.ID, "turn").text
    shoot(request, adam, "action")

    # Adam may write the action taken, not the subject; a save is confirmed.
    click(adam, "edit")
    assert field(adam, "Subject").get_attribute("readonly") is not None
    assert field(adam, "Result").get_attribute("readonly") is None
    shoot(request, adam, "edit")
    field(adam, "Result").send_keys("Checked the pump.")
    click(adam, "save")
    assert "Your changes were saved." in adam.find_element(By.ID, "notice").text

    # Olivia edits too: every mistake is shown beside its field at once, with everything typed
    # kept, and the edit stays based on what she first saw.
    olivia.get(f"{site}/action/{action_id}/edit")
    assert field(olivia, "DateDue").get_attribute("type") == "date"
    field(olivia, "Subject").clear()
    field(olivia, "Result").send_keys(" Ordered a new pump.")
    set_date(olivia, "DateDue", "2030-02-01")
    field(olivia, "Category").send_keys("x" * 60)
    click(olivia, "save")
    summary = olivia.find_element(By.ID, "form-error").text
    assert "Subject: a subject is required" in summary
    assert "Category:" in summary
    assert "a subject is required" in olivia.find_element(By.ID, "e-Subject").text
    assert olivia.find_element(By.ID, "e-Category").text
    assert field(olivia, "Result").get_attribute("value") == "Checked the pump. Ordered a new pump."
    assert field(olivia, "DateDue").get_attribute("value") == "2030-02-01"
    shoot(request, olivia, "edit-refused")
    field(olivia, "Subject").send_keys("Replace the cooling pump")
    field(olivia, "Category").clear()

    # Meanwhile adam changes the action taken; olivia's save then conflicts on it, and the page
    # says who changed it and when, and that her other change is kept either way.
    click(adam, "edit")
    field(adam, "Result").clear()
    field(adam, "Result").send_keys("Fitted the old spare.")
    click(adam, "save")
    click(olivia, "save")
    assert "Adam Assignee" in olivia.find_element(By.ID, "changed-by").text
    conflicts = olivia.find_element(By.ID, "conflicts").text
    assert "Ordered a new pump." in conflicts and "Fitted the old spare." in conflicts
    assert "2/1/2030" in olivia.find_element(By.ID, "kept").text
    shoot(request, olivia, "conflict")
    olivia.find_element(By.ID, "theirs-Result").click()
    click(olivia, "save-choices")
    fields = olivia.find_element(By.ID, "fields").text
    assert "Fitted the old spare." in fields and "2/1/2030" in fields
    assert "Ordered a new pump." not in fields

    # A review move, stored as what it is: completion hands the turn to the originator.
    adam.get(f"{site}/action/{action_id}")
    click(adam, "move-complete")
    assert "review status was changed" in adam.find_element(By.ID, "notice").text
    assert "For approval by Olivia Owner" in adam.find_element(By.ID, "status").text
    assert "Olivia Owner" in adam.find_element(By.ID, "turn").text

    # Olivia attaches a file; adam downloads it with his session.
    olivia.get(f"{site}/action/{action_id}")
    upload = tmp_path / "report.txt"
    upload.write_bytes(b"pump report\x00\xff")
    olivia.find_element(By.ID, "file").send_keys(str(upload))
    olivia.find_element(By.ID, "description").send_keys("Pump report")
    click(olivia, "attach")
    href = olivia.find_element(By.LINK_TEXT, "Pump report").get_attribute("href")
    cookie = "kvsession=" + adam.get_cookie("kvsession")["value"]
    with urllib.request.urlopen(urllib.request.Request(href, headers={"Cookie": cookie})) as got:
        assert got.read() == b"pump report\x00\xff"
        assert got.headers["Content-Disposition"] == \
            "attachment; filename=\"report.txt\"; filename*=UTF-8''report.txt"
        assert got.headers["Content-Type"] == "text/plain; charset=utf-8"

    # A POST without its form token is refused and changes nothing.
    status, _ = post(site, f"/action/{action_id}/move", cookie, {"move": "reopen"})
    assert status == 403
    adam.get(f"{site}/action/{action_id}")
    assert "For approval by Olivia Owner" in adam.find_element(By.ID, "status").text

    # Signing out ends the session for good.
    click(adam, "sign-out")
    assert "/signin" in adam.current_url
    status, _ = post(site, f"/action/{action_id}/move", cookie, {"move": "reopen"})
    assert status == 403


def test_new_action_alerts_queries_and_settings(request, site, olivia):
    # From the list to a new action by keyboard; then the other pages of the header, also at a
    # phone's width.
    olivia.get(site + "/")
    sign_in(olivia, "olivia", OLIVIA_PW)
    click(olivia, "new-action")
    # The assignee is picked by name from a list that sends the user ID.
    assignee = field(olivia, "AssigneeID")
    assert assignee.get_attribute("value") == "olivia"
    people = olivia.find_element(By.ID, assignee.get_attribute("list"))
    names = {o.get_attribute("value"): o.get_attribute("textContent")
             for o in people.find_elements(By.TAG_NAME, "option")}
    assert names["adam"] == "Adam Assignee" and names["olivia"] == "Olivia Owner"
    shoot(request, olivia, "new-action")
    field(olivia, "Subject").send_keys("Order spare seals")
    assignee.clear()
    assignee.send_keys("adam")
    set_date(olivia, "DateDue", "2030-01-20")
    click(olivia, "create")
    assert "The action was created." in olivia.find_element(By.ID, "notice").text
    assert "Order spare seals" in olivia.find_element(By.ID, "subject").text
    assert "1/20/2030" in olivia.find_element(By.ID, "fields").text
    assert "Adam Assignee" in olivia.find_element(By.ID, "fields").text
    click(olivia, "copy")
    assert "this is the new copy" in olivia.find_element(By.ID, "notice").text
    assert field(olivia, "Subject").get_attribute("value") == "Order spare seals"
    click(olivia, "save")
    click(olivia, "delete")
    click(olivia, "confirm-delete")
    assert "Deleted." in olivia.find_element(By.ID, "notice").text
    olivia.get(site + "/?grep=seals")
    assert "Order spare seals" in olivia.find_element(By.ID, "actions").text
    assert "cooling pump" not in olivia.find_element(By.ID, "actions").text
    shoot(request, olivia, "filtered-list")
    olivia.get(olivia.find_element(By.LINK_TEXT, "Order spare seals").get_attribute("href"))
    shoot(request, olivia, "action-with-copy-delete")
    click(olivia, "delete")
    shoot(request, olivia, "delete-confirm")
    click(olivia, "confirm-delete")
    olivia.get(site + "/?grep=seals")
    assert "No actions match." in olivia.find_element(By.ID, "actions").text
    olivia.get(site + "/?status=open&mine=1")
    shoot(request, olivia, "save-query")
    olivia.find_element(By.ID, "q-name").send_keys("My open ones")
    click(olivia, "save-query-button")
    assert "query=" in olivia.current_url
    assert "The query was saved." in olivia.find_element(By.ID, "notice").text
    olivia.get(site + "/queries")
    assert "My open ones" in olivia.find_element(By.ID, "queries").text
    for path, name in [("/alerts", "alerts"), ("/queries", "queries"), ("/settings", "settings")]:
        olivia.get(site + path)
        assert olivia.find_element(By.TAG_NAME, "h1").text != "Sorry"
        shoot(request, olivia, name)
    # Her own address, confirmed.
    olivia.get(site + "/settings")
    olivia.find_element(By.ID, "email").clear()
    olivia.find_element(By.ID, "email").send_keys("olivia@example.org")
    click(olivia, "save-details")
    assert "e-mail address were saved" in olivia.find_element(By.ID, "notice").text
    assert olivia.find_element(By.ID, "email").get_attribute("value") == "olivia@example.org"
    olivia.set_window_size(390, 844)
    for path, name in [("/settings", "settings-phone"), ("/?status=open", "list-phone")]:
        olivia.get(site + path)
        shoot(request, olivia, name)
