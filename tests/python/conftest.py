"""Each test runs in a folder of its own holding copies of the examples."""
import os
import shutil
from pathlib import Path

import pytest

SOURCE = Path(os.environ.get("TK_SOURCE_DIR", Path(__file__).resolve().parents[2]))


@pytest.fixture
def folder(tmp_path, monkeypatch):
    for name in ("triplet.tav", "doublet.tav", "triplet.cof", "identity.cof"):
        shutil.copy(SOURCE / "examples" / name, tmp_path / name)
    monkeypatch.chdir(tmp_path)
    return tmp_path
