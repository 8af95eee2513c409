# %% [markdown]
# # The example triplet in Python
#
# The separated quadrupole triplet of `triplet.tav` (3 MeV protons, Q1 and Q3
# coupled) made stigmatic, its maps integrated through the fields, a beam of
# rays synthesised and mapped through its coefficient file, and the spot, the
# intensity grid, the profiles and the third-order aberration drawn with
# matplotlib. Run it as a script (the pictures go to the folder given, or
# to `triplet_py/`), or cell by cell in Jupyter:
#
#     PYTHONPATH=build/python python3 examples/triplet_notebook.py [folder]

# %%
import os
import shutil
import sys
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt
import numpy as np

import tavokestrim as tk

here = Path(__file__).resolve().parent
work = Path(sys.argv[1] if len(sys.argv) > 1 else "triplet_py").resolve()
work.mkdir(parents=True, exist_ok=True)
shutil.copy(here / "triplet.tav", work / "triplet.tav")
os.chdir(work)   # both programs read and write in the current folder

# %% [markdown]
# ## The lens system: stigmatic, then its exact soft-edged map

# %%
t = tk.Tavo()
t.load("triplet")
print(t.stig().splitlines()[-2:])
print("first order:\n", t.first_order())
exps, coef = t.exact_map("soft", order=5)
t3 = coef[0][[tuple(e) for e in exps].index((0, 3, 0, 0))]
print("soft-edge (x|theta^3) at the system end: %.4g m/rad^3" % t3)

# %% [markdown]
# ## A beam of rays through the coefficient file

# %%
for old in ("stig.cof",):
    if os.path.exists(old):
        os.remove(old)
t.cofout("stig")
k = tk.Kestrim()
rays = k.synth("spot", "stig", mode=1, rays=20000, object=(10, 10), aperture=(0.3, 0.3),
               spread=0.0, time="12:00:00")
# The X image plane from the paraxial pair (rays 1 and 2).
z = -(rays[1, 0] - rays[0, 0]) / (rays[1, 1] - rays[0, 1])
beam = rays[2:]
x = 1e6 * (beam[:, 0] + z * beam[:, 1])
y = 1e6 * (beam[:, 2] + z * beam[:, 3])

fig, ax = plt.subplots(figsize=(5, 5))
ax.plot(x, y, ",", color="k")
ax.set_xlabel("x (micron)")
ax.set_ylabel("y (micron)")
ax.set_title("Spot of the stigmatic triplet at the image")
ax.set_aspect("equal")
fig.tight_layout()
fig.savefig("spot.png", dpi=120)

# %% [markdown]
# ## SORT's intensity grid and PROFIL's profiles at the image

# %%
gx, gy, counts = k.sort("spot", n=41, z=1e6 * z, range=2 * max(np.abs(x).max(), np.abs(y).max()))
fig, ax = plt.subplots(figsize=(5.5, 4.5))
im = ax.imshow(counts, origin="lower", cmap="gray_r",
               extent=[gx[0], gx[-1], gy[0], gy[-1]])
fig.colorbar(im, ax=ax, label="rays per cell")
ax.set_xlabel("x (micron)")
ax.set_ylabel("y (micron)")
ax.set_title("Intensity grid (SORT)")
fig.tight_layout()
fig.savefig("grid.png", dpi=120)

fig, ax = plt.subplots(figsize=(5.5, 3.5))
for letter in "XY":
    px, pc = k.profile("spot", letter, 40)
    ax.step(px, pc, where="mid", label=letter + " profile")
ax.set_xlabel("position from the range's centre (micron)")
ax.set_ylabel("rays per channel")
ax.set_title("Profiles at the reference plane (PROFIL)")
ax.legend()
fig.tight_layout()
fig.savefig("profiles.png", dpi=120)

# %% [markdown]
# ## Third-order aberration against aperture
#
# The image displacement of a ray through the aperture edge at angle theta
# (phi = 0) is (X/T3) theta^3 from the closed form; the maps integrated
# through hard- and soft-edged fields give the same term from the fields.

# %%
c = t.ab3()                          # micron / mrad^3
theta = np.linspace(0, 0.3, 50)      # mrad
fig, ax = plt.subplots(figsize=(5.5, 3.5))
ax.plot(theta, c[0, 0] * theta ** 3, label="closed form (X/T3)")
for edges in ("hard", "soft"):
    e, cf = t.exact_map(edges, order=3)
    m = cf[0][[tuple(v) for v in e].index((0, 3, 0, 0))] * 1e-3   # m/rad^3 to micron/mrad^3
    ax.plot(theta, m * theta ** 3, "--", label=edges + " edge")
ax.set_xlabel("aperture angle theta (mrad)")
ax.set_ylabel("x displacement (micron)")
ax.set_title("Third-order aperture aberration")
ax.legend()
fig.tight_layout()
fig.savefig("aberration.png", dpi=120)
print("pictures in", work)
