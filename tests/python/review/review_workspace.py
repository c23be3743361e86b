"""What the review tests build on: the demo checkout, and rows whose strings and paths try to escape."""

import pathlib

ROOT = pathlib.Path(__file__).resolve().parents[3]
DEMO = ROOT / "examples" / "demo_repo"
ARTEFACTS = ROOT / "build" / "test-artefacts" / "review"
CANARY = "CANARY-outside-the-repo-root"

# Strings a published repository may hold, each aimed at one context of the page.
HOSTILE_NAME = '"><img src=x onerror=alert(1)>'
HOSTILE_DESCRIPTION = "<script>alert(1)</script>"
HOSTILE_TAG = "</svg><script>alert(2)</script>"
HOSTILE_COMPONENT = "</svg><img src=x onerror=alert(3)>"


def _row(namespace, name, role, description, files, **extra):
    row = {"name": name, "namespace": namespace,
           "source": {"type": "git", "url": "", "tag": "", "ip_yml_path": "."},
           "quarrix_compat": {"language": "verilog", "library": "work", "files": files},
           "description": description, "desc_source": "auto", "license": "MIT", "dep_count": len(files),
           "vhdl_standard": "verilog", "vendor_deps": [], "verified": False, "badges": [], "test_info": {},
           "tags": [], "role": role}
    row.update(extra)
    if role == "top":
        row.setdefault("components", [])
    row["license_class"] = "permissive"
    return row


def hostile_rows():
    """A repository whose names, texts, tags, links and paths all try to escape."""
    return [
        _row("hostile", HOSTILE_NAME, "top", HOSTILE_DESCRIPTION, ["rtl/top.v"],
             tags=[HOSTILE_TAG, "<b>bold</b>"], components=[HOSTILE_COMPONENT, "leaf\\N\"'"],
             source={"type": "git", "url": "javascript:alert(4)", "tag": "", "ip_yml_path": "."}),
        _row("hostile", HOSTILE_COMPONENT, "component", "a component {{ 7*7 }} ${7*7}", ["rtl/leaf.v", "rtl/comp.v"]),
        _row("hostile", "leaf\\N\"'", "primitive", "leaf", ["rtl/leaf.v"]),
        _row("hostile", "climbs_out", "top", "reads a path above the root", ["../../outside/secret.v"]),
        _row("hostile", "absolute", "top", "reads an absolute path", ["OUTSIDE_ABS"]),
        _row("hostile", "linked_out", "top", "reads through a link", ["rtl/link.v"]),
    ]
