"""Fixtures shared by the Python suites."""

import os
import shutil

import pytest


@pytest.fixture(scope="session")
def scanner():
    """The program under test: $QUARRIX_SCAN, else quarrix-scan on PATH."""
    path = os.environ.get("QUARRIX_SCAN") or shutil.which("quarrix-scan")
    if not path:
        pytest.fail("quarrix-scan is neither installed on PATH nor named by QUARRIX_SCAN")
    return path
