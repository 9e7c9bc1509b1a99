"""The web front end in a real headless Chromium: sign-in, the list, an e-mail's link, editing
with a forbidden field, a second person's change and the conflict, a review move, attachments,
hostile input and sign-out. Runs against a `kvaction serve` on a fresh SQLite file or a fresh
PostgreSQL database (KV_TEST_PG names the server)."""
import json
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
    db = fresh_database(request, folder)
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
    # Enough actions for a second page of the list.
    many = folder / "many.csv"
    many.write_text("Subject,AssigneeID,DateDue\n" + "".join(
        f"Inspect valve {n:02},adam,3/{n % 28 + 1}/2031\n" for n in range(1, 61)))
    olivia(["import", str(many)])
    request.config.kv_admin = admin  # for tests that look behind the pages (the outbox)
    server, address = serve(kv, db)
    yield address
    server.terminate()
    server.wait(timeout=10)


def fresh_database(request, folder):
    """The database options of a new database on the run's engine."""
    if request.config.getoption("--engine") == "postgresql":
        return ["--connection", postgres_database()]
    return ["--db", str(folder / "actions.kvdb")]


def serve(kv, db):
    """A `kvaction serve` on a free port of this machine: the process and its address."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    server = subprocess.Popen([kv, *db, "serve", "--listen", f"127.0.0.1:{port}"],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    assert "Serving" in server.stdout.readline()
    return server, f"http://127.0.0.1:{port}"


def browser(folder):
    options = webdriver.ChromeOptions()
    for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--window-size=1366,900", f"--user-data-dir={folder}"]:
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
    """Saves a screenshot of the walk-through (test-NAME.png); the README's come from the demo."""
    folder = request.config.getoption("--screenshots")
    if folder and request.config.getoption("--engine") == "sqlite":
        os.makedirs(folder, exist_ok=True)
        driver.save_screenshot(os.path.join(folder, "test-" + name + ".png"))


AXE_RUN = """
const done = arguments[arguments.length - 1];
axe.run(document, {resultTypes: ['violations']}).then(
    r => done(r.violations.map(v => v.id + ' (' + v.impact + '): ' +
                               v.nodes.map(n => n.target.join(' ')).join(', '))),
    e => done(['axe failed: ' + e]));
"""


AXE_RESULTS = {}  # (page, width) -> violations, reported at the end of the run


@pytest.fixture(scope="session", autouse=True)
def axe_report(request):
    """Reports every page axe-core checked, at each width, with its number of violations, as
    lines of the test's output ("axe: …") and a Markdown table beside the screenshots."""
    yield
    if not AXE_RESULTS:
        return
    engine = request.config.getoption("--engine")
    rows = sorted(AXE_RESULTS.items())
    lines = ["| Page | Width | Violations |", "|---|---|---|"] + [
        f"| `{page}` | {width} px | {count} |" for (page, width), count in rows]
    report(request, f"axe ({engine}): {len(rows)} page checks, "
                    f"{sum(count for _, count in rows)} violations")
    for line in lines:
        report(request, "axe: " + line)
    folder = request.config.getoption("--screenshots")
    if folder:
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, f"axe-{engine}.md"), "w", encoding="utf-8") as out:
            out.write("\n".join(lines) + "\n")


def report(request, line):
    """Writes a line to the test's output, past pytest's capture (ctest keeps it in its log)."""
    capture = request.config.pluginmanager.getplugin("capturemanager")
    with capture.global_and_fixture_disabled():
        print(line, flush=True)


def page_name(url):
    """A page's address without the site and numbers that vary (action IDs)."""
    parts = urllib.parse.urlsplit(url)
    path = re.sub(r"/\d+", "/N", parts.path) + ("?" + parts.query if parts.query else "")
    return re.sub(r"=\d{2,}", "=N", path)


def check_page(request, driver):
    """The page as every page must be: no violation axe-core finds (when --axe names it), and no
    sideways scrolling."""
    assert driver.execute_script(
        "return document.documentElement.scrollWidth <= window.innerWidth"), driver.current_url
    script = request.config.getoption("--axe")
    if not script:
        return
    with open(script, encoding="utf-8") as source:
        driver.execute_script(source.read())
    driver.set_script_timeout(30)
    violations = driver.execute_async_script(AXE_RUN)
    width = driver.execute_script("return window.innerWidth")
    AXE_RESULTS[(page_name(driver.current_url), width)] = len(violations)
    assert violations == [], f"{driver.current_url} at {driver.get_window_size()}: {violations}"


def target_sizes(driver, selector):
    """The smallest width and height of the visible elements selector finds."""
    return driver.execute_script("""
        const boxes = [...document.querySelectorAll(arguments[0])]
            .map(e => e.getBoundingClientRect()).filter(b => b.width > 0 && b.height > 0);
        return [Math.min(...boxes.map(b => b.width)), Math.min(...boxes.map(b => b.height)),
                boxes.length];""", selector)


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
    assert adam.find_element(By.ID, "turn").text == "You"
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

    # The review conversation, as each side's list and the thread tell it.
    def listed(driver, status="active"):
        driver.get(f"{site}/?status={status}")
        link = driver.find_element(By.CSS_SELECTOR, f'#actions a[href="/action/{action_id}"]')
        row = link.find_element(By.XPATH, "./ancestor::tr")
        return row.get_attribute("data-state"), row.get_attribute("data-turn"), row.text

    state, turn, text = listed(olivia)
    assert (state, turn) == ("completed", "you")
    assert "Completed, waiting for review" in text and "You" in text
    state, turn, text = listed(adam)
    assert (state, turn) == ("completed", "originator")
    assert "Originator: Olivia Owner" in text
    olivia.get(f"{site}/action/{action_id}")
    olivia.find_element(By.ID, "note").send_keys("The seal still drips.")
    click(olivia, "move-reject")
    entries = olivia.find_elements(By.CSS_SELECTOR, "#conversation .thread-entry")
    assert "rejected the completion" in entries[-1].text
    assert "The seal still drips." in entries[-1].text
    state, turn, text = listed(adam)
    assert (state, turn) == ("rejected", "you")
    assert "Completion rejected" in text
    state, turn, _ = listed(olivia)
    assert (state, turn) == ("rejected", "assignee")

    # Asking for clarification, clarifying, closing, reopening and assigning again: after each
    # move, whose it was, the thread's last entry and both sides' rows (state, whose turn).
    steps = [
        (adam, "clarify-ask", "Which seal size?", "asked for clarification", "active",
         ("clarification", "originator", "Waiting for clarification"),
         ("clarification", "you", "Waiting for clarification")),
        (olivia, "clarify", "The 40 mm one.", "clarified", "active",
         ("open", "you", "Open"), ("open", "assignee", "Open")),
        (olivia, "close", "", "closed", "closed",
         ("closed", "nobody", "Closed"), ("closed", "nobody", "Closed")),
        (olivia, "reopen", "", "reopened", "active",
         ("open", "originator", "Open"), ("open", "you", "Open")),
        (olivia, "assign", "Please fit it this week.", "assigned for review", "active",
         ("open", "you", "Open"), ("open", "assignee", "Open")),
    ]
    for mover, move, note, words, status, for_adam, for_olivia in steps:
        mover.get(f"{site}/action/{action_id}")
        if note:
            mover.find_element(By.ID, "note").send_keys(note)
        click(mover, "move-" + move)
        if note:
            entry = mover.find_elements(By.CSS_SELECTOR, "#conversation .thread-entry")[-1]
            assert words in entry.text and note in entry.text, (move, entry.text)
        for driver, (state, turn, text) in [(adam, for_adam), (olivia, for_olivia)]:
            row = listed(driver, status)
            assert row[:2] == (state, turn) and text in row[2], (move, row)

    # A long description (9 KB) is saved from the form whole.
    olivia.get(f"{site}/action/{action_id}/edit")
    long_text = "The pump log, line by line. " * 330
    olivia.execute_script(
        "document.getElementById('f-Description').value = arguments[0]", long_text)
    click(olivia, "save")
    assert "Your changes were saved." in olivia.find_element(By.ID, "notice").text
    assert long_text.strip() in olivia.find_element(By.ID, "fields").text

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
    olivia.get(site + "/?status=active&mine=1")
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


def test_paging_phone_cards_keyboard_calendar_and_accessibility(request, site, olivia, adam):
    # The list tells how many there are and pages by number, first and last.
    olivia.get(site + "/")
    sign_in(olivia, "olivia", OLIVIA_PW)
    olivia.set_window_size(1366, 900)
    total = re.search(r"1–50 of (\d+)", olivia.find_element(By.ID, "list-range").text)
    assert total and int(total.group(1)) >= 62
    check_page(request, olivia)
    pages = olivia.find_elements(By.CSS_SELECTOR, "nav[aria-label=Pages] a.page-link")
    assert [p.get_attribute("aria-label") for p in pages][-2:] == ["Page 2", "Next page"]
    olivia.find_element(By.CSS_SELECTOR, "a[aria-label='Page 2']").send_keys(Keys.ENTER)
    WebDriverWait(olivia, 10).until(
        lambda d: d.find_element(By.ID, "list-range").text.startswith("51–"))
    assert "Inspect valve 60" in olivia.find_element(By.ID, "actions").text
    check_page(request, olivia)
    # Sorting by any column keeps the filters; the quick search narrows the list.
    olivia.get(site + "/?assignee=adam&sort=DateDue&dir=desc")
    assert olivia.find_element(By.CSS_SELECTOR, "th[aria-sort=descending]").text.startswith(
        "Due Date")
    search = olivia.find_element(By.ID, "q-quick")
    search.send_keys("valve 0")
    search.send_keys(Keys.ENTER)
    WebDriverWait(olivia, 10).until(lambda d: "grep=valve" in d.current_url)
    assert "assignee=adam" in olivia.current_url
    assert olivia.find_element(By.ID, "list-range").text == "1–9 of 9"
    assert "Assignee (user ID): adam" in olivia.find_element(By.ID, "criteria").text

    # A saved query opens as filters to change in place and save back.
    olivia.get(site + "/?status=active&mine=1")
    olivia.find_element(By.ID, "q-name").send_keys("Mine, open")
    click(olivia, "save-query-button")
    assert olivia.find_element(By.ID, "q-mine").is_selected()
    assert "From saved query Mine, open" in olivia.find_element(By.ID, "criteria").text
    status = olivia.find_element(By.ID, "q-status")
    status.find_element(By.CSS_SELECTOR, "option[value=overdue]").click()
    click(olivia, "apply-filters")
    assert "from=" in olivia.current_url
    check_page(request, olivia)
    click(olivia, "update-query-button")
    assert olivia.find_element(By.ID, "q-status").get_attribute("value") == "overdue"

    # Other pages checked at the desktop's width: alerts, settings, an action with attachments,
    # an error page, the old program's address.
    for path in ["/alerts", "/settings", "/queries", "/action/1", "/action/99999", "/default.asp"]:
        olivia.get(site + path)
        check_page(request, olivia)
    assert olivia.current_url == site + "/"

    # Keyboard: the first Tab reaches the skip link; the focused link has a 2 px ring.
    olivia.get(site + "/")
    olivia.find_element(By.TAG_NAME, "body").send_keys(Keys.TAB)
    focused = olivia.switch_to.active_element
    assert focused.get_attribute("class") == "skip-link"
    assert olivia.execute_script(
        "return getComputedStyle(document.activeElement).outlineWidth") == "2px"
    focused.send_keys(Keys.ENTER)
    assert olivia.execute_script("return document.activeElement.id") == "main"

    # At a phone's width: a compact header, the list as cards with targets of 24 px or more, no
    # sideways scrolling on any page.
    olivia.set_window_size(390, 844)
    olivia.get(site + "/")
    assert not olivia.find_element(By.ID, "actions").is_displayed()
    cards = olivia.find_element(By.ID, "action-cards")
    assert cards.is_displayed() and "Inspect valve" in cards.text
    width, height, count = target_sizes(olivia, "#action-cards a, .pagination a, header a")
    assert count > 0 and width >= 24 and height >= 24, (width, height)
    assert olivia.find_element(By.TAG_NAME, "header").size["height"] <= 844 / 4
    shoot(request, olivia, "list-phone-cards")
    for path in ["/", "/?page=2", "/alerts", "/settings", "/queries", "/action/1",
                 "/action/99999", "/action/1/edit"]:
        olivia.get(site + path)
        check_page(request, olivia)
    olivia.set_window_size(1366, 900)

    # The calendar address from My settings: shown once, read without signing in.
    olivia.get(site + "/settings")
    click(olivia, "calendar-renew")
    address = olivia.find_element(By.ID, "calendar-url").get_attribute("value")
    check_page(request, olivia)
    with urllib.request.urlopen(address) as answer:
        assert answer.headers["Content-Type"] == "text/calendar; charset=utf-8"
        feed = answer.read().decode()
    assert feed.startswith("BEGIN:VCALENDAR\r\n") and "SUMMARY:No. 1: Replace the cooling pump" in feed
    click(olivia, "calendar-renew")
    try:
        urllib.request.urlopen(address)
        assert False, "the old address still answers"
    except urllib.error.HTTPError as error:
        assert error.code == 404

    # Adam, without right 41, is refused the administration in words.
    adam.get(site + "/admin/users")
    sign_in(adam, "adam", ADAM_PW)
    message = adam.find_element(By.ID, "message").text
    assert "Add users and edit user information" in message and "41" not in message
    assert adam.find_element(By.ID, "back-link").is_displayed()
    check_page(request, adam)
    adam.set_window_size(390, 844)
    check_page(request, adam)


def test_readme_screens_from_the_demo(request, tmp_path):
    """The README's screenshots, from the demo database alone (scripts/demo.sh): the list at a
    desktop's and a phone's width, an action with its conversation, the edit form with its errors
    and the conflict page of two people's edits."""
    folder = request.config.getoption("--screenshots")
    if not folder or request.config.getoption("--engine") != "sqlite":
        pytest.skip("screenshots are taken on the SQLite run when a folder is named")
    kv = request.config.getoption("--kvaction")
    root = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
    demo = tmp_path / "demo.kvdb"
    subprocess.run([os.path.join(root, "scripts", "demo.sh"), kv], check=True, capture_output=True,
                   env={**os.environ, "KV_DEMO_DB": str(demo)}, timeout=120)
    server, site = serve(kv, ["--db", str(demo)])
    lee, pat = browser(tmp_path / "lee"), browser(tmp_path / "pat")
    try:
        os.makedirs(folder, exist_ok=True)

        def save(driver, name, full=False):
            if full:  # the whole page, as tall as it is
                height = driver.execute_script("return document.documentElement.scrollHeight")
                driver.set_window_size(driver.get_window_size()["width"], height + 100)
            driver.save_screenshot(os.path.join(folder, name + ".png"))

        for driver, user, password in [(lee, "lee", "lead-demo"), (pat, "pat", "pat-demo1")]:
            driver.set_window_size(1366, 900)
            driver.get(site + "/")
            sign_in(driver, user, password)
        check_page(request, lee)
        save(lee, "list")
        lee.set_window_size(390, 844)
        lee.get(site + "/")
        check_page(request, lee)
        save(lee, "list-phone")
        lee.set_window_size(1366, 900)
        contract = lee.find_element(By.PARTIAL_LINK_TEXT, "supplier contract").get_attribute("href")
        lee.get(contract)
        check_page(request, lee)
        save(lee, "action", full=True)
        lee.set_window_size(1366, 900)
        lee.get(site + "/activity")
        check_page(request, lee)
        save(lee, "activity")
        lee.set_window_size(390, 844)
        lee.get(site + "/activity")
        check_page(request, lee)
        save(lee, "activity-phone")
        lee.set_window_size(1366, 900)

        # Two people edit the same action: the second meets the first's change.
        pat.get(contract + "/edit")
        lee.get(contract + "/edit")
        field(lee, "Subject").clear()
        click(lee, "save")
        check_page(request, lee)
        save(lee, "edit-errors", full=True)
        lee.set_window_size(390, 844)
        check_page(request, lee)
        lee.set_window_size(1366, 900)
        lee.get(contract + "/edit")
        field(lee, "Result").send_keys(" Asked two more suppliers for offers.")
        click(lee, "save")
        field(pat, "Result").send_keys(" Offers from two more suppliers are due on Friday.")
        click(pat, "save")
        assert pat.find_elements(By.ID, "conflicts")
        check_page(request, pat)
        save(pat, "conflict", full=True)
        pat.set_window_size(390, 844)
        check_page(request, pat)
    finally:
        lee.quit()
        pat.quit()
        server.terminate()
        server.wait(timeout=10)


def test_watch_and_bulk_changes(request, site, olivia):
    # Watching an action: the button, and the page naming who watches it.
    olivia.get(site + "/")
    sign_in(olivia, "olivia", OLIVIA_PW)
    olivia.get(olivia.find_element(By.LINK_TEXT, "Replace the cooling pump").get_attribute("href"))
    assert "Nobody watches" in olivia.find_element(By.ID, "watchers").text
    click(olivia, "watch")
    assert "You are watching this action" in olivia.find_element(By.ID, "notice").text
    assert "Olivia Owner (olivia)" in olivia.find_element(By.ID, "watchers").text
    assert olivia.find_element(By.ID, "watch").text == "Unwatch"
    shoot(request, olivia, "watching")
    check_page(request, olivia)

    # Three ticked actions assigned to her at once, each reported.
    olivia.get(site + "/?grep=" + urllib.parse.quote("Inspect valve 0"))
    boxes = olivia.find_elements(By.CSS_SELECTOR, "#actions input[name=id]")[:3]
    picked = [box.get_attribute("value") for box in boxes]
    for box in boxes:
        box.send_keys(Keys.SPACE)
    assert all(box.is_selected() for box in boxes)
    olivia.find_element(By.ID, "bulk-value").send_keys("olivia")
    shoot(request, olivia, "bulk-ticked")
    check_page(request, olivia)
    click(olivia, "bulk-apply")
    assert olivia.find_element(By.ID, "bulk-summary").text == "3 changed of 3 actions."
    rows = olivia.find_elements(By.CSS_SELECTOR, "#bulk-report tbody tr")
    assert [r.get_attribute("data-outcome") for r in rows] == ["changed"] * 3
    assert all("Assignee" in r.text for r in rows)
    shoot(request, olivia, "bulk-report")
    check_page(request, olivia)
    for id in picked:
        olivia.get(f"{site}/action/{id}")
        assert "Olivia Owner" in olivia.find_element(By.ID, "fields").text

    # Closing all matching asks first; the report then tells each.
    olivia.get(site + "/?grep=" + urllib.parse.quote("Inspect valve 1"))
    olivia.find_element(By.ID, "bulk-all").send_keys(Keys.SPACE)
    olivia.find_element(By.CSS_SELECTOR, "#bulk-do option[value=close]").click()
    click(olivia, "bulk-apply")
    assert "Close 10 action(s)?" in olivia.find_element(By.TAG_NAME, "h1").text
    shoot(request, olivia, "bulk-confirm")
    check_page(request, olivia)
    click(olivia, "confirm-bulk")
    assert olivia.find_element(By.ID, "bulk-summary").text == "10 changed of 10 actions."
    olivia.set_window_size(390, 844)
    olivia.get(site + "/?grep=" + urllib.parse.quote("Inspect valve 2"))
    assert olivia.find_elements(By.CSS_SELECTOR, "#action-cards input[name=id]")
    olivia.execute_script("window.scrollTo(0, document.getElementById('bulk-form')"
                          ".getBoundingClientRect().top + window.scrollY - 10)")
    shoot(request, olivia, "bulk-phone")
    check_page(request, olivia)


def test_comment_with_a_mention_queues_a_notice(request, site, olivia):
    admin = request.config.kv_admin
    admin(["settings", "set", "AutoEmail", "true"])
    for user in ["olivia", "adam"]:
        admin(["user", "edit", user, "--email", f"{user}@example.org"])
    try:
        olivia.get(site + "/")
        sign_in(olivia, "olivia", OLIVIA_PW)
        olivia.find_element(By.LINK_TEXT, "Replace the cooling pump").send_keys(Keys.ENTER)
        WebDriverWait(olivia, 10).until(lambda d: d.find_elements(By.ID, "comment"))
        page = olivia.current_url
        # A mention of nobody is refused beside the form, with the text kept.
        olivia.find_element(By.ID, "comment").send_keys("Ask @nobody")
        click(olivia, "comment-submit")
        assert "is not a mention of a user" in olivia.find_element(By.ID, "comment-error").text
        assert olivia.find_element(By.ID, "comment").get_attribute("value") == "Ask @nobody"
        check_page(request, olivia)
        olivia.get(page)
        olivia.find_element(By.ID, "comment").send_keys(
            "The seal kit is in store 2, @adam: can you fit it <b>today</b>?")
        click(olivia, "comment-submit")
        assert "Your comment was added." in olivia.find_element(By.ID, "notice").text
        entry = olivia.find_elements(By.CSS_SELECTOR, "#conversation .thread-entry")[-1]
        assert "olivia" in entry.text and "commented" in entry.text
        assert "<b>today</b>" in entry.text  # markup stays text
        mention = entry.find_element(By.CSS_SELECTOR, ".mention")
        assert mention.text == "@Adam Assignee" and mention.get_attribute("title") == "@adam"
        check_page(request, olivia)
        shoot(request, olivia, "comment")
        olivia.set_window_size(390, 844)
        check_page(request, olivia)
        shoot(request, olivia, "comment-phone")
        # The person mentioned has a notice waiting in the outbox, once.
        waiting = json.loads(admin(["--json", "mail", "list"]))
        queued = [mail for mail in waiting if mail["To"] == "adam@example.org"
                  and mail["Subject"].startswith("Olivia Owner mentioned you: ")]
        assert len(queued) == 1, waiting
    finally:
        admin(["settings", "set", "AutoEmail", "false"])

def test_activity_search_and_date_ranges(request, site, adam):
    """The activity page reads each change under its day, linked to its action, pages back and
    gives a feed address; the quick search finds a person by name; date bounds narrow the list."""
    adam.get(site + "/")
    sign_in(adam, "adam", ADAM_PW)
    click(adam, "nav-activity")
    assert adam.find_element(By.TAG_NAME, "h1").text == "Activity"
    days = [h.text for h in adam.find_elements(By.CSS_SELECTOR, "#activity h2")]
    assert days and days[0] == "Today", days
    entries = adam.find_elements(By.CSS_SELECTOR, ".activity-entry")
    assert len(entries) == 50, "a page of changes"
    first = [e.get_attribute("id") for e in entries]
    check_page(request, adam)
    shoot(request, adam, "activity")
    adam.set_window_size(390, 844)
    check_page(request, adam)
    shoot(request, adam, "activity-phone")
    adam.set_window_size(1366, 900)
    # Older changes continue where each page ends, none twice, down to the first ones; a hostile
    # subject is text.
    seen, texts = list(first), []
    while adam.find_elements(By.ID, "activity-older"):
        click(adam, "activity-older")
        page = adam.find_elements(By.CSS_SELECTOR, ".activity-entry")
        ids = [e.get_attribute("id") for e in page]
        assert ids and not set(ids) & set(seen), ids[:2]
        seen += ids
        texts += [e.text for e in page]
    assert any("Replace the cooling pump" in t and "Olivia Owner" in t and
               "Created the action" in t for t in texts), texts[-3:]
    assert any(HOSTILE in t for t in texts)
    check_page(request, adam)
    link = adam.find_element(By.PARTIAL_LINK_TEXT, "Replace the cooling pump")
    link.send_keys(Keys.ENTER)
    WebDriverWait(adam, 10).until(lambda d: "/action/" in d.current_url)
    assert "Replace the cooling pump" in adam.find_element(By.TAG_NAME, "h1").text
    # The feed: its address shown once, an Atom document of the same changes, without signing in.
    adam.get(site + "/activity")
    click(adam, "feed-renew")
    address = adam.find_element(By.ID, "feed-url").get_attribute("value")
    assert re.search(r"/activity/[0-9a-f]{64}\.atom$", address), address
    with urllib.request.urlopen(address) as answer:
        assert answer.headers["Content-Type"].startswith("application/atom+xml")
        feed = answer.read().decode()
    assert feed.count("<entry>") == 50 and "<script>" not in feed
    adam.get(site + "/activity")
    assert adam.find_elements(By.ID, "feed-state") and address not in adam.page_source
    # The quick search finds the assignee by name; date bounds narrow the list.
    adam.get(site + "/")
    adam.find_element(By.ID, "q-quick").send_keys("Adam Assignee")
    adam.find_element(By.ID, "q-quick").send_keys(Keys.ENTER)
    WebDriverWait(adam, 10).until(lambda d: "grep=" in d.current_url)
    table = adam.find_element(By.ID, "actions").text
    assert "Replace the cooling pump" in table and "Inspect valve" in table, table
    adam.get(site + "/")
    adam.execute_script("document.getElementById('filters').open = true")
    adam.execute_script("arguments[0].value = '2030-01-01'", adam.find_element(By.ID, "q-dueFrom"))
    adam.execute_script("arguments[0].value = '2030-12-31'", adam.find_element(By.ID, "q-dueTo"))
    click(adam, "apply-filters")
    table = adam.find_element(By.ID, "actions").text
    assert "Replace the cooling pump" in table and "Inspect valve" not in table, table
    assert "Due from: 2030-01-01" in adam.find_element(By.ID, "criteria").text
    check_page(request, adam)


NAVIGATION_TIMING = """
const n = performance.getEntriesByType('navigation')[0];
return [n.responseEnd - n.requestStart, n.domContentLoadedEventEnd - n.startTime];
"""


def test_page_timing_at_5000_actions(request, tmp_path):
    """Reports (does not assert) how fast the list and action pages come with 5,000 actions in
    the database: the browser's navigation timing, the median of several loads each, as one line
    of the test's output ("Page timing at 5,000 actions …")."""
    kv = request.config.getoption("--kvaction")
    db = fresh_database(request, tmp_path)
    run(kv, db, ["init", "--admin", "admin"], ADMIN_PW + "\n")
    many = tmp_path / "5000.csv"
    many.write_text("Subject,AssigneeID,DateDue\n" + "".join(
        f"Read meter {n:04},admin,{n % 12 + 1}/{n % 28 + 1}/2031\n" for n in range(5000)))
    run(kv, db, ["--user", "admin", "--no-mail", "import", str(many)], ADMIN_PW + "\n")
    server, site = serve(kv, db)
    driver = browser(tmp_path / "timing")
    try:
        driver.set_window_size(1366, 900)
        driver.get(site + "/")
        sign_in(driver, "admin", ADMIN_PW)
        assert "of 5,000" in driver.find_element(By.ID, "list-range").text
        action = driver.find_element(By.CSS_SELECTOR, "#actions a[href^='/action/']")
        pages = {"list": "/", "list, last page": "/?page=100",
                 "list by whose turn": "/?sort=turn&dir=desc",
                 "action": action.get_attribute("href").removeprefix(site)}
        figures = []
        for name, path in pages.items():
            answers, ready = [], []
            for _ in range(9):
                driver.get(site + path)
                answer, loaded = driver.execute_script(NAVIGATION_TIMING)
                answers.append(answer)
                ready.append(loaded)
            figures.append(f"{name} {sorted(answers)[4]:.1f} ms (ready {sorted(ready)[4]:.1f} ms)")
        engine = request.config.getoption("--engine")
        line = (f"Page timing at 5,000 actions ({engine}, median of 9, request to last byte): " +
                "; ".join(figures))
        report(request, line)
        folder = request.config.getoption("--screenshots")
        if folder:
            os.makedirs(folder, exist_ok=True)
            with open(os.path.join(folder, f"timing-{engine}.txt"), "w", encoding="utf-8") as out:
                out.write(line + "\n")
    finally:
        driver.quit()
        server.terminate()
        server.wait(timeout=10)
