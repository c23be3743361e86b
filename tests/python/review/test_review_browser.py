"""The review page in a real headless Chromium against a real server: the
curator's path from the list to a saved verdict, the keyboard, the picture,
and hostile repository strings that must stay text."""

import json

import pytest
from .review_workspace import HOSTILE_DESCRIPTION, HOSTILE_NAME, HOSTILE_TAG

pytest.importorskip("selenium", reason="selenium is not installed (scripts/install-deps.sh installs it)")
from selenium.common.exceptions import NoAlertPresentException, StaleElementReferenceException  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402
from selenium.webdriver.support import expected_conditions as EC  # noqa: E402
from selenium.webdriver.support.ui import Select, WebDriverWait  # noqa: E402


def wait(driver, condition, timeout=15):
    # A key that saves also navigates: an element found just before the new
    # page replaces the old one goes stale, which only means "not yet".
    return WebDriverWait(driver, timeout, ignored_exceptions=(StaleElementReferenceException,)).until(condition)


def arrived(driver, element_id):
    """The element of the page a click or key led to, once that page's scripts have run."""
    element = wait(driver, EC.presence_of_element_located((By.ID, element_id)))
    wait(driver, lambda d: d.execute_script("return document.readyState") == "complete")
    return element


def assert_nothing_ran(driver):
    try:
        alert = driver.switch_to.alert
    except NoAlertPresentException:
        pass
    else:
        text = alert.text
        alert.dismiss()
        pytest.fail(f"a repository string ran as script: alert({text!r})")
    assert driver.find_elements(By.CSS_SELECTOR, "img, main script, svg script, iframe") == []


@pytest.fixture()
def site(serve, workspace, chromium):
    server = serve(workspace["rows"], workspace["index"], workspace["repos"])
    return server.url, chromium, workspace


def verdicts_on_disk(workspace):
    return json.loads((workspace["index"] / "descriptions_verdicts.json").read_text())


def test_a_curator_filters_opens_a_row_and_locks_an_edited_text(site, artefacts):
    url, driver, workspace = site
    driver.get(url + "/")
    total = driver.find_element(By.ID, "summary").text
    assert total.startswith("12 of 12 rows")

    Select(driver.find_element(By.NAME, "role")).select_by_value("top")      # applies at once
    wait(driver, EC.url_contains("role=top"))
    arrived(driver, "q")
    search = driver.find_element(By.ID, "q")
    search.send_keys("uart", Keys.ENTER)
    wait(driver, EC.url_contains("q=uart"))
    arrived(driver, "rows")
    links = driver.find_elements(By.CSS_SELECTOR, "a.row-link")
    assert [a.text for a in links] == ["uart_top"]
    # The counts beside each choice follow the other filters: one top matches "uart".
    assert "top (1)" in driver.find_element(By.NAME, "role").text
    driver.save_screenshot(str(artefacts / "list.png"))

    links[0].click()
    arrived(driver, "verdict-form")
    assert driver.find_element(By.ID, "row-name").text == "uart_top"
    assert "UART core combining" in driver.find_element(By.ID, "header").text
    ports = [[td.text for td in tr.find_elements(By.TAG_NAME, "td")[:2]]
             for tr in driver.find_elements(By.CSS_SELECTOR, "#ports tbody tr")]
    assert ports == [["clk", "input"], ["rst", "input"], ["rxd", "input"], ["txd", "output"]]
    driver.save_screenshot(str(artefacts / "row.png"))

    text = driver.find_element(By.ID, "locked_text")
    text.clear()
    text.send_keys("UART transmitter and receiver behind one clock divider.")
    text.send_keys(Keys.CONTROL, Keys.ENTER)                                  # Ctrl+Enter saves as Good
    arrived(driver, "saved")
    driver.refresh()
    assert driver.find_element(By.ID, "locked_text").get_attribute("value") == \
        "UART transmitter and receiver behind one clock divider."
    assert "Good" in driver.find_element(By.CSS_SELECTOR, ".sub .verdict").text
    record = verdicts_on_disk(workspace)["entries"]["demo_repo/uart_top"]
    assert (record["verdict"], record["locked_text"]) == \
        ("good", "UART transmitter and receiver behind one clock divider.")
    assert record["judged_text"] == "UART core combining the transmitter and the receiver."

    # Shortcuts: u back to the filtered list; on a row outside a text box, 3 is Not good and n the next row.
    driver.find_element(By.TAG_NAME, "body").send_keys("u")
    wait(driver, EC.url_contains("q=uart"))
    driver.get(url + "/?namespace=demo_repo&sort=name")
    driver.find_elements(By.CSS_SELECTOR, "a.row-link")[0].click()
    first = arrived(driver, "row-name").text
    driver.find_element(By.TAG_NAME, "body").send_keys("3")
    arrived(driver, "saved")
    driver.find_element(By.TAG_NAME, "body").send_keys("n")
    wait(driver, lambda d: d.find_element(By.ID, "row-name").text != first)
    entries = verdicts_on_disk(workspace)["entries"]
    assert entries[f"demo_repo/{first}"]["verdict"] == "not-good" and len(entries) == 2
    assert "locked_text" not in entries[f"demo_repo/{first}"]


def test_enter_in_the_namespace_box_takes_the_first_suggestion_or_says_none_matches(site):
    url, driver, _ = site
    driver.get(url + "/?role=top")
    box = arrived(driver, "namespace")
    box.send_keys("DEMO", Keys.ENTER)                              # part of a name, in another case
    wait(driver, EC.url_contains("namespace=demo_repo"))
    assert "role=top" in driver.current_url
    assert arrived(driver, "namespace").get_attribute("value") == "demo_repo"
    spaces = {td.text for td in driver.find_elements(By.CSS_SELECTOR, "#rows tbody td:nth-child(2)")}
    assert spaces == {"demo_repo"}

    box = driver.find_element(By.ID, "namespace")
    box.send_keys(Keys.CONTROL, "a")
    box.send_keys("nosuch", Keys.ENTER)
    banner = arrived(driver, "no-namespace")
    assert "No namespace matches “nosuch”" in banner.text and not driver.find_elements(By.ID, "rows")
    assert driver.find_element(By.ID, "namespace").get_attribute("value") == "nosuch"


def test_the_picture_links_each_unit_to_its_row(site, artefacts):
    url, driver, _ = site
    driver.get(url + "/repo?namespace=demo_repo")
    graph = wait(driver, EC.presence_of_element_located((By.CSS_SELECTOR, "#graph svg")))
    labels = {t.text for t in graph.find_elements(By.CSS_SELECTOR, "g.node text")}
    assert {"uart_top", "uart_rx", "uart_tx"} <= labels and "fifo_sync" not in labels
    # A unit linked to no other is packed beside the picture, not stacked in it.
    assert "fifo_sync" in {a.text for a in driver.find_elements(By.CSS_SELECTOR, "#loose a.unit")}
    assert len(graph.find_elements(By.CSS_SELECTOR, "g.edge")) == 2               # uart_top uses rx and tx
    driver.save_screenshot(str(artefacts / "graph.png"))
    node = next(a for a in graph.find_elements(By.CSS_SELECTOR, "g.node a") if a.text == "uart_rx")
    node.click()
    assert arrived(driver, "row-name").text == "uart_rx"


def test_hostile_repository_strings_render_as_text(site, artefacts):
    url, driver, _ = site
    driver.get(url + "/?namespace=hostile&sort=name")
    assert_nothing_ran(driver)
    cells = {a.text for a in driver.find_elements(By.CSS_SELECTOR, "a.row-link")}
    assert HOSTILE_NAME in cells
    assert HOSTILE_TAG in {t.text for t in driver.find_elements(By.CSS_SELECTOR, ".tag")}

    next(a for a in driver.find_elements(By.CSS_SELECTOR, "a.row-link") if a.text == HOSTILE_NAME).click()
    arrived(driver, "row-name")
    assert_nothing_ran(driver)
    assert driver.find_element(By.ID, "row-name").text == HOSTILE_NAME
    assert driver.find_element(By.ID, "current-description").text == HOSTILE_DESCRIPTION
    assert driver.find_element(By.ID, "locked_text").get_attribute("value") == HOSTILE_DESCRIPTION

    driver.get(url + "/repo?namespace=hostile")
    wait(driver, EC.presence_of_element_located((By.CSS_SELECTOR, "#graph svg")))
    assert_nothing_ran(driver)
    assert len(driver.find_elements(By.TAG_NAME, "svg")) == 1
    assert HOSTILE_NAME in {t.text for t in driver.find_elements(By.CSS_SELECTOR, "g.node text")}
    driver.save_screenshot(str(artefacts / "graph-hostile.png"))


def test_ten_rows_judged_with_the_keyboard_alone_land_in_the_file(serve, workspace, chromium):
    server = serve(workspace["rows"], workspace["index"], workspace["repos"], extra=["--curator", "kbd"])
    driver = chromium
    driver.get(server.url + "/?sort=name")
    names = [a.text for a in driver.find_elements(By.CSS_SELECTOR, "a.row-link")]
    body = driver.find_element(By.TAG_NAME, "body")
    body.send_keys("j", "j", "k")                                   # the second row is the current one
    assert driver.find_element(By.CSS_SELECTOR, "tr.current a.row-link").text == names[1]
    body.send_keys(Keys.ENTER)
    keys = "1231231231"
    for n, key in enumerate(keys):
        assert arrived(driver, "row-name").text == names[1 + n]
        driver.find_element(By.TAG_NAME, "body").send_keys(key)     # saves, then opens the next row
        wait(driver, lambda d, n=n: d.find_element(By.ID, "row-name").text == names[2 + n])
    assert arrived(driver, "saved-row").text == names[10]
    entries = verdicts_on_disk(workspace)["entries"]
    verdict = {"1": "good", "2": "improvable", "3": "not-good"}
    keys_by_name = {key.split("/", 1)[1]: v for key, v in entries.items()}       # a name may hold a "/"
    assert {name: keys_by_name[name]["verdict"] for name in names[1:11]} == \
        {name: verdict[k] for name, k in zip(names[1:11], keys)}
    assert len(entries) == 10 and all(v["curator"] == "kbd" and v["judged_at"] for v in entries.values())


def test_the_registry_of_a_real_batch_leads_from_a_repository_to_its_rows(serve, chromium, tmp_path, artefacts):
    from quarrix_core.batch.cli import main as batch_main

    soc, cells = tmp_path / "soc", tmp_path / "cells"
    for repo, rel, text in ((cells, "rtl/sync_cell.v", "module sync_cell(input clk, input d, output q);\n"
                             "  assign q = d;\nendmodule\n"),
                            (soc, "rtl/soc_top.v", "// The SoC.\nmodule soc_top(input clk, input d, output q);\n"
                             "  sync_cell u(.clk(clk), .d(d), .q(q));\nendmodule\n")):
        (repo / rel).parent.mkdir(parents=True)
        (repo / rel).write_text(text)
    manifest = tmp_path / "m.json"
    manifest.write_text(json.dumps({"repositories": [
        {"path": str(soc), "namespace": "soc", "depends": ["cells"]}, {"path": str(cells), "namespace": "cells"}]}))
    work = tmp_path / "work"
    assert batch_main([str(manifest), "--work", str(work), "--workers", "1", "--no-verify", "--no-llm", "-q"]) == 0
    (tmp_path / "index").mkdir()
    url = serve([], tmp_path / "index", extra=["--batch", str(work)]).url

    chromium.get(url + "/registry")
    graph = wait(chromium, EC.presence_of_element_located((By.CSS_SELECTOR, "#graph svg")))
    assert "1 unit" in {t.text for t in graph.find_elements(By.CSS_SELECTOR, "g.edge text")}
    chromium.save_screenshot(str(artefacts / "registry.png"))
    next(a for a in graph.find_elements(By.CSS_SELECTOR, "g.node a") if a.text.startswith("cells")).click()
    arrived(chromium, "rows")
    assert [a.text for a in chromium.find_elements(By.CSS_SELECTOR, "a.row-link")] == ["sync_cell"]
