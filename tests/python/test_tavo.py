"""TAVO through the module: the numbers equal what the program prints."""
import re

import numpy as np
import pytest

import tavokestrim as tk


def printed(text, label):
    """The numbers after a label such as (X/T3) in a transcript line."""
    out = []
    for line in text.splitlines():
        i = line.find(label)
        if i >= 0:
            out.append([float(v) for v in re.findall(r"-?\d+\.\d*(?:E[-+]\d+)?", line[i + len(label):])])
    return out


def test_first_order_is_the_coefficient_files_matrix(folder):
    t = tk.Tavo()
    t.load("triplet")
    assert t.title.startswith("Separated triplet")
    a = t.first_order()
    assert a.shape == (4, 4)
    # A magnetic system without acceleration: each plane's determinant is 1,
    # the planes are not coupled.
    assert np.linalg.det(a[:2, :2]) == pytest.approx(1.0, abs=1e-9)
    assert np.linalg.det(a[2:, 2:]) == pytest.approx(1.0, abs=1e-9)
    assert np.all(a[:2, 2:] == 0) and np.all(a[2:, :2] == 0)
    t.cofout("mine")
    rows = open("mine.cof").read().splitlines()[7:11]
    printed_matrix = np.array([[float(v) for v in r.split(",")] for r in rows])
    np.testing.assert_allclose(a, printed_matrix, rtol=1e-3, atol=1e-12)
    # Image data: the focal lengths from the matrix, -1/M(2,1) and -1/M(4,3).
    im = t.image()
    assert im["focal"][0] == pytest.approx(-1 / a[1, 0], rel=1e-9)
    assert im["focal"][1] == pytest.approx(-1 / a[3, 2], rel=1e-9)


def test_ab3_and_exact_equal_the_transcripts(folder):
    t = tk.Tavo()
    t.load("triplet")
    out = t.run("AB3 A")
    c = t.ab3()
    for p, names in enumerate([("T3", "TP2", "XT2", "XP2", "TYP", "X2T", "TY2", "XYP", "X3", "XY2"),
                               ("P3", "PT2", "YP2", "YT2", "PXT", "Y2P", "PX2", "YXT", "Y3", "YX2")]):
        for j, n in enumerate(names):
            label = "(%s/%s)" % ("XY"[p], n)
            values = printed(out, label)[0]
            assert c[p, j] == pytest.approx(values[0], rel=1e-5), label   # six digits printed
    # The third-order vector and AB3 are the same numbers in other units:
    # (X/T3) is the x vector's first term times the magnification, in
    # micron/mrad^3.
    v = t.third_order()
    mx = t.image()["magnification"][0]
    assert c[0, 0] == pytest.approx(mx * v[0] * 1e-3, rel=1e-12)

    # EXACT's hard- and soft-edge columns from the maps themselves.
    out = t.exact()
    system = out.split("System")[1]
    for edges, col in (("hard", 1), ("soft", 2)):
        ex, coef = t.exact_map(edges, order=3)
        def term(row, e):
            i = [k for k in range(len(ex)) if tuple(ex[k]) == e][0]
            return coef[row, i]
        assert term(0, (0, 3, 0, 0)) * 1e-3 == pytest.approx(printed(system, "(X/T3)")[0][col], rel=1e-5)
        assert term(2, (0, 0, 0, 3)) * 1e-3 == pytest.approx(printed(system, "(Y/P3)")[0][col], rel=1e-5)
    # A hard edge has no fifth-order limit: the program says so.
    with pytest.raises(tk.Error, match="third order"):
        t.exact_map("hard", order=5)
    # The exact maps' first order is the evaluator's for hard edges (to the
    # integration's accuracy: (x|theta) is near zero at the image).
    ex, coef = t.exact_map("hard", order=3)
    lin = {tuple(e): k for k, e in enumerate(ex) if sum(e) == 1}
    a = t.first_order()
    for r in range(4):
        for cidx, e in enumerate([(1, 0, 0, 0), (0, 1, 0, 0), (0, 0, 1, 0), (0, 0, 0, 1)]):
            assert coef[r, lin[e]] == pytest.approx(a[r, cidx], rel=1e-6, abs=1e-7)
    # A longer fringe softens the edges: the soft map changes with it.
    e1, c1 = t.exact_map("soft", order=3, fringe=1.0)
    e2, c2 = t.exact_map("soft", order=3, fringe=2.0)
    assert not np.allclose(c1, c2)


def test_stig_and_fields_and_save(folder):
    t = tk.Tavo()
    t.load("triplet")
    out = t.stig()
    assert "After minimisation" in out
    # Stigmatic: the image planes of x and y coincide, (X/TH) and (Y/PH) of
    # the closed form near zero, as the transcript says.
    after = printed(out, "(X/TH) =")[-1][0], printed(out, "(Y/PH) =")[-1][0]
    assert abs(after[0]) < 1e-6 and abs(after[1]) < 1e-6
    row = t.element(4)
    assert row.shape == (12,)
    t.set(4, 3, row[2] * 1.01)
    assert t.element(4)[2] == pytest.approx(row[2] * 1.01)
    t.save("changed")
    u = tk.Tavo()
    u.load("changed")
    assert u.element(4)[2] == pytest.approx(row[2] * 1.01, rel=1e-6)


def test_errors_raise_with_the_programs_message(folder):
    t = tk.Tavo()
    with pytest.raises(tk.Error):
        t.first_order()            # nothing loaded
    with pytest.raises(tk.Error, match=r"^\?"):
        t.run("NOSUCHWORD")
    with pytest.raises(tk.Error, match="No lens system loaded"):
        t.run("THIRD")
    with pytest.raises(tk.Error, match="nosuchsystem"):
        t.load("nosuchsystem")
    t.load("triplet")
    with pytest.raises(tk.Error, match="more answers"):
        t.run("COFOUT")            # asks for a name and gets none
    assert "Third order" in t.run("THIRD")   # the session goes on
    with pytest.raises(IndexError):
        t.element(99)


def test_two_sessions_side_by_side(folder):
    a, b = tk.Tavo(), tk.Tavo()
    a.load("triplet")
    b.load("doublet")
    ma = a.first_order()
    mb = b.first_order()
    assert not np.allclose(ma, mb)
    b.set(4, 3, b.element(4)[2] * 2)
    b.stig()
    np.testing.assert_array_equal(a.first_order(), ma)
    assert a.title != b.title


def test_quiet_unless_asked(folder, capfd):
    t = tk.Tavo()
    t.load("triplet")
    t.run("THIRD")
    assert capfd.readouterr().out == ""
    loud = tk.Tavo(echo=True)
    loud.load("triplet")
    assert "Title:" in capfd.readouterr().out
