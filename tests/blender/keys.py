# keys.py -- what the Blender scripts of the test share: numpy made fit for
# Blender's glTF importer, where every vertex of every shape key lies, and
# the export settings.  Imported by make.py and reopen.py.
import bpy
import numpy

# Debian's Blender 3.4 glTF importer asks numpy for `numpy.bool`, an alias
# that numpy 1.24 removed: without it every import fails.  Give it back.
if not hasattr(numpy, "bool"):
    numpy.bool = bool


def world(obj, key):
    """The key's vertices where Blender shows them (world coordinates, in
    doubles), in glTF's frame: Blender's (x, y, z) is glTF's (x, z, -y)."""
    co = numpy.empty(3 * len(key.data))
    key.data.foreach_get("co", co)
    m = numpy.array(obj.matrix_world)
    p = co.reshape(-1, 3) @ m[:3, :3].T + m[:3, 3]
    return numpy.column_stack([p[:, 0], p[:, 2], -p[:, 1]])


def points(objects):
    """The shape keys of the objects' meshes, by name in order of first
    appearance, and one row per vertex: its basis position, then its
    position in each key (the basis where its object has no key of that
    name), x y z in metres."""
    meshes = [o for o in objects if o.type == "MESH"]
    names = []
    for o in meshes:
        names += [k.name for k in o.data.shape_keys.key_blocks[1:] if k.name not in names]
    rows = []
    for o in meshes:
        blocks = o.data.shape_keys.key_blocks
        keys = [blocks[0]] + [blocks.get(n, blocks[0]) for n in names]
        rows += numpy.hstack([world(o, k) for k in keys]).tolist()
    return {"keys": names, "points": rows}


def export(path, objects):
    """The objects as a binary glTF asset, with the settings that keep shape
    keys (docs/kelo-gltf.md)."""
    bpy.ops.object.select_all(action="DESELECT")
    for o in objects:
        o.select_set(True)
    bpy.ops.export_scene.gltf(filepath=path, export_format="GLB", use_selection=True,
                              export_yup=True, export_apply=False, export_morph=True,
                              export_morph_normal=True)
