"""Fixtures of the review page's tests: a workspace of checkouts, rows and an
index; real servers started as `python -m quarrix_core.review`; a headless Chromium."""

import json
import os
import re
import shutil
import signal
import subprocess
import sys

import pytest

from .review_workspace import ARTEFACTS, CANARY, DEMO, hostile_rows


@pytest.fixture(scope="session")
def demo_rows(scanner, tmp_path_factory):
    """The demo repository's rows as quarrix-scan writes them (JSONL), every entity."""
    out = tmp_path_factory.mktemp("demo-scan") / "rows.jsonl"
    env = {k: v for k, v in os.environ.items() if not k.endswith("_API_KEY")}
    done = subprocess.run([scanner, str(DEMO), "--no-verify", "--no-cache", "-q", "--granularity", "all",
                           "--format", "jsonl", "-o", str(out)], capture_output=True, text=True, env=env, timeout=120)
    assert done.returncode == 0, done.stderr
    return out


@pytest.fixture()
def workspace(tmp_path, demo_rows):
    """repos/ with the demo checkout and a hostile one, a canary outside, rows files and an empty index."""
    repos = tmp_path / "repos"
    shutil.copytree(DEMO, repos / "demo_repo")
    hostile = repos / "hostile" / "rtl"
    hostile.mkdir(parents=True)
    (hostile / "top.v").write_text("// The hostile top.\nmodule top(input clk);\nendmodule\n")
    (hostile / "leaf.v").write_text("module leaf(input a);\nendmodule\n")
    (hostile / "comp.v").write_text("module comp(input a);\nendmodule\n")
    outside = tmp_path / "outside"
    outside.mkdir()
    secret = outside / "secret.v"
    secret.write_text(f"// {CANARY} header comment that must never show.\n"
                      f"module secret(input {CANARY.replace('-', '_')});\nendmodule\n")
    (hostile / "link.v").symlink_to(secret)

    rows = hostile_rows()
    for row in rows:
        row["quarrix_compat"]["files"] = [str(secret) if f == "OUTSIDE_ABS" else f for f in row["quarrix_compat"]["files"]]
    (tmp_path / "hostile.json").write_text(json.dumps(rows))
    (tmp_path / "index").mkdir()
    return {"root": tmp_path, "repos": repos, "index": tmp_path / "index",
            "rows": [demo_rows, tmp_path / "hostile.json"]}


class Server:
    """`python -m quarrix_core.review` on a free loopback port, stopped at the end of the test."""

    def __init__(self, rows, index, repo_root=None, extra=()):
        args = [sys.executable, "-m", "quarrix_core.review", *map(str, rows), "--index", str(index), "--port", "0",
                *extra]
        if repo_root is not None:
            args += ["--repo-root", str(repo_root)]
        self.proc = subprocess.Popen(args, stderr=subprocess.PIPE, text=True, start_new_session=True)
        self.stderr = []
        for line in self.proc.stderr:
            self.stderr.append(line)
            found = re.search(r"serving on (http://\S+/)", line)
            if found:
                self.url = found.group(1).rstrip("/")
                return
        self.proc.wait(timeout=10)
        raise AssertionError("the server did not start: " + "".join(self.stderr))

    def stop(self):
        if self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGTERM)
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait()
        self.proc.stderr.close()


@pytest.fixture()
def serve():
    servers = []

    def start(*args, **kwargs):
        server = Server(*args, **kwargs)
        servers.append(server)
        return server
    yield start
    for server in servers:
        server.stop()


@pytest.fixture(scope="session")
def chromium():
    """A headless Chromium driven by Selenium; skipped with the reason where one is missing."""
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        pytest.skip("selenium is not installed (scripts/install-deps.sh installs it)")
    browser = os.environ.get("QUARRIX_CHROMIUM") or shutil.which("chromium") or shutil.which("chromium-browser")
    driver_path = os.environ.get("QUARRIX_CHROMEDRIVER") or shutil.which("chromedriver")
    if not browser or not driver_path:
        pytest.skip("chromium or chromedriver is not installed (Debian packages chromium, chromium-driver)")
    options = webdriver.ChromeOptions()
    options.binary_location = browser
    for flag in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                 "--window-size=1400,1000", "--disable-extensions"):
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service(driver_path), options=options)
    driver.set_page_load_timeout(30)
    yield driver
    driver.quit()


@pytest.fixture(scope="session")
def artefacts():
    ARTEFACTS.mkdir(parents=True, exist_ok=True)
    return ARTEFACTS
