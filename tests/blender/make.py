# make.py -- Blender makes the test's scenes of shape-keyed meshes, exports
# each as DIR/NAME.glb and writes in DIR/made.json, per asset, its keys and
# where Blender shows every vertex in each (keys.points).
#
#   blender -b --factory-startup --python-exit-code 1 -P make.py -- DIR [...]
import json
import math
import os
import sys

import bpy
from mathutils import Vector

sys.path.insert(0, os.path.dirname(__file__))
import keys  # noqa: E402

out = sys.argv[sys.argv.index("--") + 1]
made = {}


def keyed(obj, *names):
    obj.shape_key_add(name="Basis")
    return [obj.shape_key_add(name=n, from_mix=False) for n in names]


def added(primitive, **where):
    primitive(**where)
    return bpy.context.object


def scene(name, *objects):
    bpy.context.view_layer.update()  # world matrices after parenting
    keys.export(os.path.join(out, name + ".glb"), objects)
    made[name + ".glb"] = keys.points(objects)


# A key that squashes, one that moves one vertex, one that moves nothing.
monkey = added(bpy.ops.mesh.primitive_monkey_add)
squash, poke, _ = keyed(monkey, "Squash", "Poke", "Still")
for d in squash.data:
    d.co.z *= 0.5
poke.data[7].co += Vector((0.1, 0.2, 0.3))
scene("monkey", monkey)

# Moved, turned and scaled unevenly, below a moved and turned parent.
parent = added(bpy.ops.object.empty_add, location=(0, 0, 1), rotation=(0, 0, math.pi / 2))
cone = added(bpy.ops.mesh.primitive_cone_add, location=(1, -2, 0.5), rotation=(0.5, 0.8, 1.1))
cone.scale, cone.parent = (2, 0.5, 1.5), parent
for d in keyed(cone, "伸びる")[0].data:
    d.co.x *= 1.5
scene("placed", parent, cone)

# Two materials: two primitives sharing the vertices where they meet.
torus = added(bpy.ops.mesh.primitive_torus_add)
for m in ("Left", "Right"):
    torus.data.materials.append(bpy.data.materials.new(m))
for p in torus.data.polygons:
    p.material_index = p.center.x > 0
for v, d in zip(torus.data.vertices, keyed(torus, "Swell")[0].data):
    d.co += 0.1 * v.normal
scene("torus", torus)

# Two keyed objects whose keys have other names.
face = added(bpy.ops.mesh.primitive_monkey_add)
smile, blink = keyed(face, "Smile", "Blink")
ball = added(bpy.ops.mesh.primitive_uv_sphere_add, location=(3, 0, 0))
inflate, dent = keyed(ball, "Inflate", "Dent")
for d in smile.data:
    d.co.x *= 1 + 0.2 * (d.co.z < 0)
for d in blink.data:
    d.co.z *= 0.3 if d.co.z > 0.2 else 1
for d in inflate.data:
    d.co *= 1.2
dent.data[0].co.z -= 0.4
scene("pair", face, ball)

with open(os.path.join(out, "made.json"), "w") as f:
    json.dump(made, f)
