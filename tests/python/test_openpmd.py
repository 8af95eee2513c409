"""openPMD files: the standard's required attributes, the round trip, files
written by hand with h5py, and files that cannot be used."""
import numpy as np
import h5py
import pytest

import tavokestrim as tk

C = 299792458.0
MEV = 1.602176634e-13
MP = 1.007276466621 * 1.66053906660e-27     # proton mass (kg)


def momentum(t_mev, m=MP):
    e = t_mev * MEV + m * C * C
    return np.sqrt(e * e - (m * C * C) ** 2) / C


def written(k, name="spot.h5", species="proton", energy=3.0):
    k.synth("spot", "triplet", mode=1, rays=50, object=(10, 10), aperture=(0.2, 0.2), spread=0.5,
            time="03:04:05")
    rays = k.rays()
    k.write_openpmd(name, rays, species, energy, caption="Triplet spot")
    return rays


def text(v):
    return v.decode() if isinstance(v, bytes) else str(v)


def test_every_required_attribute(folder):
    k = tk.Kestrim()
    rays = written(k)
    n = len(rays)
    with h5py.File("spot.h5", "r") as f:
        a = f.attrs
        # The base standard's root attributes, the extensions declared.
        assert text(a["openPMD"]) == "2.0.0"
        assert text(a["openPMDextension"]) == "BeamPhysics;SpeciesType"
        assert text(a["basePath"]) == "/data/%T/"
        assert text(a["particlesPath"]) == "particles/"
        assert text(a["iterationEncoding"]) == "groupBased"
        assert text(a["iterationFormat"]) == "/data/%T/"
        for rec in ("author", "software", "softwareVersion", "date"):
            assert text(a[rec])
        assert list(f["data"].keys()) == ["0"]
        it = f["data/0"]
        for key in ("time", "dt", "timeUnitSI"):
            assert key in it.attrs
        sp = f["data/0/particles/proton"]
        # BeamPhysics: the particle group's required attributes.
        assert text(sp.attrs["speciesType"]) == "proton"
        assert int(sp.attrs["numParticles"]) == n
        # Every record: unitDimension (7 powers) and timeOffset; every
        # component unitSI and one value per particle (or a constant).
        dims = {"position": [1, 0, 0, 0, 0, 0, 0], "positionOffset": [1, 0, 0, 0, 0, 0, 0],
                "momentum": [1, 1, -1, 0, 0, 0, 0], "totalMomentum": [1, 1, -1, 0, 0, 0, 0],
                "totalMomentumOffset": [1, 1, -1, 0, 0, 0, 0], "weight": [0] * 7,
                "particleStatus": [0] * 7, "time": [0, 0, 1, 0, 0, 0, 0],
                "mass": [0, 1, 0, 0, 0, 0, 0], "charge": [0, 0, 1, 1, 0, 0, 0]}
        for rec, dim in dims.items():
            r = sp[rec]
            np.testing.assert_array_equal(r.attrs["unitDimension"], dim, err_msg=rec)
            assert "timeOffset" in r.attrs, rec
            comps = [r[c] for c in ("x", "y", "z")] if isinstance(r, h5py.Group) and "value" not in r.attrs else [r]
            for c in comps:
                assert "unitSI" in c.attrs, (rec, c.name)
                if isinstance(c, h5py.Dataset):
                    assert c.shape == (n,), c.name
                else:
                    assert "value" in c.attrs and list(c.attrs["shape"]) == [n], c.name
        # The physics: x, y are X, Y; px/pz and py/pz the slopes; the total
        # momentum that of T0 (1 + DE/100) for a proton.
        np.testing.assert_array_equal(sp["position/x"][()], rays[:, 0])
        np.testing.assert_array_equal(sp["position/y"][()], rays[:, 2])
        px, py, pz = (sp["momentum/" + c][()] for c in "xyz")
        np.testing.assert_allclose(px / pz, rays[:, 1], rtol=1e-12, atol=1e-18)
        np.testing.assert_allclose(py / pz, rays[:, 3], rtol=1e-12, atol=1e-18)
        p = np.sqrt(px ** 2 + py ** 2 + pz ** 2)
        np.testing.assert_allclose(p, momentum(3.0 * (1 + rays[:, 4] / 100)), rtol=1e-12)
        assert sp["totalMomentumOffset"].attrs["value"] == pytest.approx(momentum(3.0), rel=1e-12)
        assert sp["mass"].attrs["value"] == pytest.approx(MP, rel=1e-12)
        assert set(sp["particleStatus"][()]) == {1}
        np.testing.assert_array_equal(sp["weight"][:2], [0, 0])   # the paraxial pair


def test_round_trip_to_the_bit(folder):
    k = tk.Kestrim()
    rays = written(k)
    back, info = k.read_openpmd("spot.h5")
    assert back.dtype == np.float64 and back.shape == rays.shape
    np.testing.assert_array_equal(back.view(np.uint64), rays.view(np.uint64))
    assert info["species"] == "proton" and info["energy"] == 3.0
    assert info["caption"] == "Triplet spot"
    # Through KESTRIM's own command too: the file becomes a ray set again.
    out = k.run("OPMD/R spot.h5 again")
    assert "rays read from spot.h5" in out
    np.testing.assert_array_equal(k.rays().view(np.uint64), rays.view(np.uint64))


def hand_file(name, particles, species="electron", iterations=("0",), extra=None):
    """A file as another code would write it: positions and momenta only."""
    with h5py.File(name, "w") as f:
        f.attrs["openPMD"] = "2.0.0"
        f.attrs["openPMDextension"] = "BeamPhysics;SpeciesType"
        f.attrs["basePath"] = "/data/%T/"
        f.attrs["particlesPath"] = "particles/"
        for it in iterations:
            g = f.create_group("data/%s/particles/%s" % (it, species))
            g.attrs["speciesType"] = species
            g.attrs["numParticles"] = len(particles)
            for rec, cols in (("position", (0, 1, 2)), ("momentum", (3, 4, 5))):
                for c, col in zip("xyz", cols):
                    d = g.create_dataset("%s/%s" % (rec, c), data=particles[:, col])
                    d.attrs["unitSI"] = 1.0
            if extra:
                extra(g)


def test_a_file_written_by_hand_is_read_as_the_expected_rays(folder):
    me = 9.1093837015e-31
    p0 = momentum(0.1, me)
    # Electrons at 100 keV: one on axis, one at +2 % energy with slopes.
    p1 = momentum(0.102, me)
    tx, ty = 2e-3, -1e-3
    pz1 = p1 / np.sqrt(1 + tx * tx + ty * ty)
    parts = np.array([[1e-6, -1e-6, 0.0, 0, 0, p0], [0, 0, 0.0, pz1 * tx, pz1 * ty, pz1]])
    def offset(g):
        o = g.create_group("totalMomentumOffset")
        o.attrs["value"] = p0
        o.attrs["shape"] = [2]
        o.attrs["unitSI"] = 1.0
    hand_file("e.h5", parts, extra=offset)
    k = tk.Kestrim()
    rays, info = k.read_openpmd("e.h5")
    assert info["species"] == "electron"
    assert info["energy"] == pytest.approx(0.1, rel=1e-9)
    # The pair put in front, then the two electrons.
    np.testing.assert_array_equal(rays[:2], [[0, 0, 0, 0, 0], [0, 1e-3, 0, 1e-3, 0]])
    np.testing.assert_allclose(rays[2], [1e-6, 0, -1e-6, 0, 0], atol=1e-12)
    np.testing.assert_allclose(rays[3, [1, 3]], [tx, ty], rtol=1e-12)
    assert rays[3, 4] == pytest.approx(2.0, rel=1e-9)
    assert any("paraxial pair" in n for n in info["notes"])


def test_iterations_species_and_bad_files(folder):
    parts = np.array([[0, 0, 0, 0, 0, momentum(1.0)]])
    hand_file("multi.h5", parts, species="proton", iterations=("0", "5"))
    k = tk.Kestrim()
    with pytest.raises(tk.Error, match=r"2 iterations \(0, 5\): name the one to read"):
        k.read_openpmd("multi.h5")
    rays, _ = k.read_openpmd("multi.h5", iteration=5)
    assert len(rays) == 3
    with pytest.raises(tk.Error, match="no iteration 7"):
        k.read_openpmd("multi.h5", iteration=7)
    hand_file("ph.h5", parts, species="photon")
    with pytest.raises(tk.Error, match="charged particles only"):
        k.read_openpmd("ph.h5")
    # Truncated, a wrong shape, not HDF5, missing.
    data = open("multi.h5", "rb").read()
    open("cut.h5", "wb").write(data[: len(data) // 3])
    with pytest.raises(tk.Error, match="damaged or truncated"):
        k.read_openpmd("cut.h5")
    with h5py.File("multi.h5", "a") as f:
        del f["data/0/particles/proton/position/y"]
        f["data/0/particles/proton/position/y"] = np.zeros((1, 2))
    with pytest.raises(tk.Error, match="rank 2"):
        k.read_openpmd("multi.h5", iteration=0)
    open("text.h5", "w").write("hello\n")
    with pytest.raises(tk.Error, match="not an HDF5 file"):
        k.read_openpmd("text.h5")
    with pytest.raises(tk.Error, match="does not exist"):
        k.read_openpmd("missing.h5")
    # NaN from another code: left out, and said so.
    nan = np.array([[0, 0, 0, 0, 0, momentum(1.0)], [np.nan, 0, 0, 0, 0, momentum(1.0)]])
    hand_file("nan.h5", nan, species="proton")
    rays, info = k.read_openpmd("nan.h5")
    assert len(rays) == 3 and np.all(np.isfinite(rays))
    assert any("not finite" in n for n in info["notes"])
    # An existing file is never replaced.
    with pytest.raises(tk.Error, match="already exists"):
        k.write_openpmd("nan.h5", rays, "proton", 1.0)
    with pytest.raises(ValueError, match="charge number and mass"):
        k.write_openpmd("ion.h5", rays, "#4He", 1.0)
    k.write_openpmd("ion.h5", rays, "#4He", 1.0, charge=2, mass=4.001506)
