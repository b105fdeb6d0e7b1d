# reopen.py -- Blender opens each glTF asset named, writes in DIR/opened.json
# (keyed by the asset's file name) its shape keys and where every vertex lies
# in each (keys.points), and exports it again, nothing edited, as
# DIR/NAME_same.glb.
#
#   blender -b --factory-startup --python-exit-code 1 -P reopen.py -- DIR ASSET...
import json
import os
import sys

import bpy

sys.path.insert(0, os.path.dirname(__file__))
import keys  # noqa: E402

out, *assets = sys.argv[sys.argv.index("--") + 1:]
opened = {}
for asset in assets:
    before = set(bpy.data.objects)
    bpy.ops.import_scene.gltf(filepath=asset)
    objects = [o for o in bpy.data.objects if o not in before]
    opened[os.path.basename(asset)] = keys.points(objects)
    name = os.path.splitext(os.path.basename(asset))[0]
    keys.export(os.path.join(out, name + "_same.glb"), objects)

with open(os.path.join(out, "opened.json"), "w") as f:
    json.dump(opened, f)
