"""descriptions_verdicts.json as the review page writes it: nothing it did not
touch changes, nothing is lost to a concurrent writer, and a file it cannot
write safely is left alone."""

import json
import multiprocessing

import pytest

from quarrix_core import ip_scanner
from quarrix_core.review.verdict_file import FLAT, INVALID, MISSING, WRAPPED, VerdictFile, VerdictFileError


def write(index, doc_or_text):
    path = index / "descriptions_verdicts.json"
    path.write_text(doc_or_text if isinstance(doc_or_text, str) else json.dumps(doc_or_text))
    return path


def test_an_update_keeps_other_entries_unknown_fields_and_a_backup(tmp_path):
    before = {"version": 1, "curated_by": "team-a",
              "entries": {"ns/a": {"verdict": "not-good", "note": "keep me"},
                          "ns/b": {"verdict": "good", "locked_text": "B text.", "reviewer": "x"},
                          "ns/odd": ["not", "a", "record"]}}
    path = write(tmp_path, before)
    old_bytes = path.read_bytes()
    vf = VerdictFile(tmp_path)

    assert vf.set_verdict("ns/a", "good", "  A, locked.  ") == {"verdict": "good", "note": "keep me",
                                                                  "locked_text": "  A, locked.  "}
    after = json.loads(path.read_text())
    assert after["curated_by"] == "team-a" and after["version"] == 1
    assert after["entries"]["ns/b"] == before["entries"]["ns/b"]
    assert after["entries"]["ns/odd"] == ["not", "a", "record"]
    assert (tmp_path / "descriptions_verdicts.json.bak").read_bytes() == old_bytes
    # What the scanner reads back is exactly the text locked, spaces included.
    verdicts = ip_scanner.load_description_verdicts(str(tmp_path))
    assert ip_scanner.verdict_locked_text(verdicts, "ns", "a") == "  A, locked.  "

    # A later verdict other than good keeps the text (the scanner ignores it) and the other fields.
    vf.set_verdict("ns/b", "improvable")
    record = json.loads(path.read_text())["entries"]["ns/b"]
    assert record == {"verdict": "improvable", "locked_text": "B text.", "reviewer": "x"}
    assert ip_scanner.verdict_locked_text(ip_scanner.load_description_verdicts(str(tmp_path)), "ns", "b") is None
    assert not list(tmp_path.glob("*.tmp")), "no temporary file is left behind"


def test_a_missing_file_is_created_wrapped_and_bad_requests_write_nothing(tmp_path):
    index = tmp_path / "index-not-yet-made"
    vf = VerdictFile(index)
    assert vf.state().form == MISSING and vf.state().writable
    for verdict, text in (("good", "   "), ("good", None), ("Good", "x"), ("maybe", "x")):
        with pytest.raises(VerdictFileError):
            vf.set_verdict("ns/a", verdict, text)
    assert not (index / "descriptions_verdicts.json").exists()
    vf.set_verdict("ns/a", "not-good")
    assert json.loads((index / "descriptions_verdicts.json").read_text()) == \
        {"version": 1, "entries": {"ns/a": {"verdict": "not-good"}}}
    assert not (index / "descriptions_verdicts.json.bak").exists()


@pytest.mark.parametrize("content, problem", [
    ('{"version": 1, "entries": {"ns/a": {"verdict": "good",', "not valid JSON"),
    ("", "not valid JSON"),
    ('[{"ns/a": {"verdict": "good"}}]', "not an object"),
    ('{"version": 1, "entries": ["ns/a"]}', '"entries" is not an object'),
    (b'{"ns/a": {"verdict": "good", "locked_text": "caf\xe9"}}', "not UTF-8"),
])
def test_a_file_that_cannot_be_written_safely_is_refused_untouched(tmp_path, content, problem):
    path = tmp_path / "descriptions_verdicts.json"
    path.write_bytes(content if isinstance(content, bytes) else content.encode())
    vf = VerdictFile(tmp_path)
    state = vf.state()
    assert state.form == INVALID and problem in state.problem and not state.writable
    with pytest.raises(VerdictFileError, match="left untouched"):
        vf.set_verdict("ns/a", "good", "text")
    with pytest.raises(VerdictFileError):
        vf.convert_flat()
    assert path.read_bytes() == (content if isinstance(content, bytes) else content.encode())
    assert not (tmp_path / "descriptions_verdicts.json.bak").exists()


def test_a_flat_file_is_written_only_after_conversion_which_keeps_every_record(tmp_path):
    flat = {"ns/a": {"verdict": "good", "locked_text": "A."}, "ns/b": {"verdict": "improvable", "why": "vague"}}
    path = write(tmp_path, flat)
    vf = VerdictFile(tmp_path)
    assert vf.state().form == FLAT and vf.state().entries == flat
    with pytest.raises(VerdictFileError, match="flat form"):
        vf.set_verdict("ns/c", "not-good")
    assert json.loads(path.read_text()) == flat

    vf.convert_flat()
    assert json.loads(path.read_text()) == {"version": 1, "entries": flat}
    assert json.loads((tmp_path / "descriptions_verdicts.json.bak").read_text()) == flat
    assert vf.state().form == WRAPPED
    vf.set_verdict("ns/c", "not-good")
    assert json.loads(path.read_text())["entries"]["ns/a"] == flat["ns/a"]


def _writer(index, worker, count, barrier):
    vf = VerdictFile(index, lock_timeout=60)
    barrier.wait()
    for n in range(count):
        vf.set_verdict(f"w{worker}/row{n}", "good", f"text {worker}.{n}")


def test_concurrent_writers_lose_no_update(tmp_path):
    """Processes, like two servers on one index, each re-read under the lock before writing."""
    write(tmp_path, {"version": 1, "entries": {"ns/kept": {"verdict": "good", "locked_text": "kept"}}})
    workers, count = 4, 25
    ctx = multiprocessing.get_context("fork")
    barrier = ctx.Barrier(workers)
    procs = [ctx.Process(target=_writer, args=(tmp_path, w, count, barrier)) for w in range(workers)]
    for p in procs:
        p.start()
    for p in procs:
        p.join(60)
        assert p.exitcode == 0
    entries = json.loads((tmp_path / "descriptions_verdicts.json").read_text())["entries"]
    assert len(entries) == workers * count + 1
    assert all(entries[f"w{w}/row{n}"]["locked_text"] == f"text {w}.{n}" for w in range(workers) for n in range(count))
