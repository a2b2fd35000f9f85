#!/usr/bin/env python3
"""Writes the fuzz targets' starting inputs: a few tiny valid model files per
reader, text and binary, each a textured, coloured or normal-carrying mesh
so that the readers' main paths are reached from the first run.

    make-seeds.py OUTDIR [READER]   writes OUTDIR/<reader>/<name> files
"""
import base64
import json
import os
import struct
import sys
import zlib

# One triangle and one quad (as two triangles where the format needs it).
POS = [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0)]
UV = [(0, 0), (1, 0), (1, 1), (0, 1)]
TRIS = [(0, 1, 2), (0, 2, 3)]


def obj():
    text = "# seed\nmtllib seed.mtl\no quad\n"
    text += "".join("v %g %g %g\n" % p for p in POS)
    text += "".join("vt %g %g\n" % t for t in UV)
    text += "vn 0 0 1\nusemtl skin\ns 1\ng front\n"
    text += "f 1/1/1 2/2/1 3/3/1 4/4/1\n"
    plain = "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1 1 0 0\nf 1 2 3\nf -1 -2 -3\nl 1 2\np 3\n"
    return {"quad.obj": text, "plain.obj": plain}


def ply():
    head = ("ply\nformat {fmt} 1.0\ncomment seed\nelement vertex 4\n"
            "property float x\nproperty float y\nproperty float z\n"
            "property float nx\nproperty float ny\nproperty float nz\n"
            "property float s\nproperty float t\n"
            "property uchar red\nproperty uchar green\nproperty uchar blue\n"
            "element face 2\nproperty list uchar int vertex_indices\nend_header\n")
    text = head.format(fmt="ascii")
    for p, t in zip(POS, UV):
        text += "%g %g %g 0 0 1 %g %g 200 100 50\n" % (p + t)
    text += "".join("3 %d %d %d\n" % f for f in TRIS)
    binary = head.format(fmt="binary_little_endian").encode()
    for p, t in zip(POS, UV):
        binary += struct.pack("<8f3B", *p, 0, 0, 1, *t, 200, 100, 50)
    for f in TRIS:
        binary += struct.pack("<B3i", 3, *f)
    return {"ascii.ply": text, "binary.ply": binary}


def stl():
    text = "solid seed\n"
    for f in TRIS:
        text += " facet normal 0 0 1\n  outer loop\n"
        text += "".join("   vertex %g %g %g\n" % POS[i] for i in f)
        text += "  endloop\n endfacet\n"
    text += "endsolid seed\n"
    binary = b"seed".ljust(80, b" ") + struct.pack("<I", len(TRIS))
    for f in TRIS:
        binary += struct.pack("<3f", 0, 0, 1)
        for i in f:
            binary += struct.pack("<3f", *POS[i])
        binary += struct.pack("<H", 0)
    return {"ascii.stl": text, "binary.stl": binary}


def dae():
    floats = " ".join("%g %g %g" % p for p in POS)
    uvs = " ".join("%g %g" % t for t in UV)
    idx = " ".join("%d %d" % (i, i) for f in TRIS for i in f)
    text = f"""<?xml version="1.0" encoding="utf-8"?>
<COLLADA xmlns="http://www.collada.org/2005/11/COLLADASchema" version="1.4.1">
 <asset><unit name="meter" meter="1"/><up_axis>Y_UP</up_axis></asset>
 <library_images><image id="img"><init_from>skin.png</init_from></image></library_images>
 <library_effects><effect id="fx"><profile_COMMON>
  <newparam sid="surf"><surface type="2D"><init_from>img</init_from></surface></newparam>
  <newparam sid="samp"><sampler2D><source>surf</source></sampler2D></newparam>
  <technique sid="common"><phong><diffuse><texture texture="samp" texcoord="UV0"/></diffuse></phong></technique>
 </profile_COMMON></effect></library_effects>
 <library_materials><material id="mat"><instance_effect url="#fx"/></material></library_materials>
 <library_geometries><geometry id="geo"><mesh>
  <source id="pos"><float_array id="pos-a" count="12">{floats}</float_array>
   <technique_common><accessor source="#pos-a" count="4" stride="3">
    <param name="X" type="float"/><param name="Y" type="float"/><param name="Z" type="float"/>
   </accessor></technique_common></source>
  <source id="uv"><float_array id="uv-a" count="8">{uvs}</float_array>
   <technique_common><accessor source="#uv-a" count="4" stride="2">
    <param name="S" type="float"/><param name="T" type="float"/>
   </accessor></technique_common></source>
  <vertices id="vtx"><input semantic="POSITION" source="#pos"/></vertices>
  <triangles material="m" count="2">
   <input semantic="VERTEX" source="#vtx" offset="0"/>
   <input semantic="TEXCOORD" source="#uv" offset="1" set="0"/>
   <p>{idx}</p>
  </triangles>
 </mesh></geometry></library_geometries>
 <library_visual_scenes><visual_scene id="scene"><node id="n" name="quad">
  <matrix>1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1</matrix>
  <instance_geometry url="#geo"><bind_material><technique_common>
   <instance_material symbol="m" target="#mat"><bind_vertex_input semantic="UV0" input_semantic="TEXCOORD" input_set="0"/></instance_material>
  </technique_common></bind_material></instance_geometry>
 </node></visual_scene></library_visual_scenes>
 <scene><instance_visual_scene url="#scene"/></scene>
</COLLADA>
"""
    return {"quad.dae": text}


def gltf_and_glb():
    data = b"".join(struct.pack("<3f", *p) for p in POS)
    data += b"".join(struct.pack("<2f", *t) for t in UV)
    data += b"".join(struct.pack("<3H", *f) for f in TRIS) + b"\0\0"

    def doc(uri):
        buffer = {"byteLength": len(data)}
        if uri:
            buffer["uri"] = uri
        return ('{"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],'
                '"nodes":[{"mesh":0,"translation":[0,0,1]}],'
                '"meshes":[{"primitives":[{"attributes":{"POSITION":0,"TEXCOORD_0":1},"indices":2,"material":0}]}],'
                '"materials":[{"pbrMetallicRoughness":{"baseColorTexture":{"index":0}}}],'
                '"textures":[{"source":0}],"images":[{"uri":"skin.png"}],'
                '"accessors":[{"bufferView":0,"componentType":5126,"count":4,"type":"VEC3","min":[0,0,0],"max":[1,1,0]},'
                '{"bufferView":1,"componentType":5126,"count":4,"type":"VEC2"},'
                '{"bufferView":2,"componentType":5123,"count":6,"type":"SCALAR"}],'
                '"bufferViews":[{"buffer":0,"byteOffset":0,"byteLength":48},'
                '{"buffer":0,"byteOffset":48,"byteLength":32},'
                '{"buffer":0,"byteOffset":80,"byteLength":12}],'
                '"buffers":[' + json.dumps(buffer) + ']}')

    text = doc("data:application/octet-stream;base64," + base64.b64encode(data).decode())
    chunk = doc(None).encode()
    chunk += b" " * (-len(chunk) % 4)
    body = data + b"\0" * (-len(data) % 4)
    glb = struct.pack("<4sII", b"glTF", 2, 12 + 8 + len(chunk) + 8 + len(body))
    glb += struct.pack("<I4s", len(chunk), b"JSON") + chunk + struct.pack("<I4s", len(body), b"BIN\0") + body
    return {"quad.gltf": text}, {"quad.glb": glb}


def x():
    # Elements of a list are separated by commas, and the list ends with ';'.
    verts = ",\n".join("%g;%g;%g;" % p for p in POS) + ";"
    faces = ",\n".join("3;%d,%d,%d;" % f for f in TRIS) + ";"
    uvs = ",\n".join("%g;%g;" % t for t in UV) + ";"
    colours = ",\n".join("%d;1.0;0.5;0.2;1.0;;" % i for i in range(len(POS))) + ";"
    text = f"""xof 0303txt 0032
Frame Root {{
 FrameTransformMatrix {{ 1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0;; }}
 Mesh Quad {{
  4;
  {verts}
  2;
  {faces}
  MeshNormals {{ 1; 0;0;1;; 2; 3;0,0,0;, 3;0,0,0;; }}
  MeshTextureCoords {{ 4; {uvs} }}
  MeshVertexColors {{ 4; {colours} }}
  MeshMaterialList {{ 1; 2; 0, 0;;
   Material Skin {{ 1.0;1.0;1.0;1.0;; 10.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; TextureFilename {{ "skin.png"; }} }}
  }}
 }}
}}
"""
    return {"quad.x": text}


class Id(int):
    """An object id: a 64-bit integer in binary FBX."""


def fbx_nodes():
    """The scene as (name, properties, children) for both FBX encodings."""
    verts = [c for p in POS for c in p]
    uv = [c for t in UV for c in t]
    geometry = ("Geometry", [Id(1000), "Geometry::quad", "Mesh"], [
        ("Vertices", [("d", [float(v) for v in verts])], []),
        # Two triangles; the last index of each polygon is stored as ~index.
        ("PolygonVertexIndex", [("i", [0, 1, -3, 0, 2, -4])], []),
        ("LayerElementNormal", [0], [
            ("MappingInformationType", ["ByPolygonVertex"], []),
            ("ReferenceInformationType", ["Direct"], []),
            ("Normals", [("d", [0.0, 0.0, 1.0] * 6)], [])]),
        ("LayerElementUV", [0], [
            ("MappingInformationType", ["ByControlPoint"], []),
            ("ReferenceInformationType", ["Direct"], []),
            ("UV", [("d", [float(v) for v in uv])], [])]),
        ("Layer", [0], [
            ("LayerElement", [], [("Type", ["LayerElementNormal"], []), ("TypedIndex", [0], [])]),
            ("LayerElement", [], [("Type", ["LayerElementUV"], []), ("TypedIndex", [0], [])])]),
    ])
    model = ("Model", [Id(2000), "Model::quad", "Mesh"], [("Version", [232], [])])
    material = ("Material", [Id(3000), "Material::skin", ""], [("ShadingModel", ["phong"], [])])
    return [
        ("FBXHeaderExtension", [], [("FBXHeaderVersion", [1003], []), ("FBXVersion", [7400], [])]),
        ("GlobalSettings", [], [("Version", [1000], [])]),
        ("Objects", [], [geometry, model, material]),
        ("Connections", [], [
            ("C", ["OO", Id(2000), Id(0)], []), ("C", ["OO", Id(1000), Id(2000)], []),
            ("C", ["OO", Id(3000), Id(2000)], [])]),
    ]


def fbx_ascii():
    def value(v):
        if isinstance(v, str):
            return '"' + v + '"'
        return repr(v) if isinstance(v, float) else str(v)

    def node(n, depth):
        name, props, children = n
        pad = "\t" * depth
        if props and isinstance(props[0], tuple):
            values = props[0][1]
            out = pad + "%s: *%d {\n%s\ta: %s\n%s}\n" % (name, len(values), pad, ",".join(value(v) for v in values), pad)
            return out
        out = pad + name + ": " + ", ".join(value(v) for v in props)
        if children:
            out += " {\n" + "".join(node(c, depth + 1) for c in children) + pad + "}"
        return out + "\n"

    return "; FBX 7.4.0 project file\n" + "".join(node(n, 0) for n in fbx_nodes())


def fbx_binary():
    def prop(v):
        if isinstance(v, tuple):
            code, values = v
            raw = struct.pack("<%d%s" % (len(values), code), *values)
            return code.encode() + struct.pack("<III", len(values), 0, len(raw)) + raw
        if isinstance(v, str):
            s = v
            if "::" in v:  # binary FBX writes class::name as name\0\1class
                cls, name = v.split("::", 1)
                s = name + "\x00\x01" + cls
            b = s.encode("latin-1")
            return b"S" + struct.pack("<I", len(b)) + b
        if isinstance(v, float):
            return b"D" + struct.pack("<d", v)
        if isinstance(v, Id):
            return b"L" + struct.pack("<q", v)
        return b"I" + struct.pack("<i", v)

    def node(n, offset):
        name, props, children = n
        body = b"".join(prop(p) for p in props)
        head_len = 13 + len(name)
        pos = offset + head_len + len(body)
        kids = b""
        for c in children:
            k = node(c, pos)
            kids += k
            pos += len(k)
        if children:
            kids += b"\0" * 13
        end = offset + head_len + len(body) + len(kids)
        return struct.pack("<IIIB", end, len(props), len(body), len(name)) + name.encode() + body + kids

    out = b"Kaydara FBX Binary  \x00\x1a\x00" + struct.pack("<I", 7400)
    for n in fbx_nodes():
        out += node(n, len(out))
    out += b"\0" * 13
    return out


def fbx():
    return {"ascii.fbx": fbx_ascii(), "binary.fbx": fbx_binary()}


def tds():
    def chunk(cid, payload):
        return struct.pack("<HI", cid, 6 + len(payload)) + payload

    verts = struct.pack("<H", len(POS)) + b"".join(struct.pack("<3f", *p) for p in POS)
    faces = struct.pack("<H", len(TRIS)) + b"".join(struct.pack("<4H", *f, 7) for f in TRIS)
    faces += chunk(0x4130, b"skin\0" + struct.pack("<H", 2) + struct.pack("<2H", 0, 1))
    uvs = struct.pack("<H", len(UV)) + b"".join(struct.pack("<2f", *t) for t in UV)
    matrix = struct.pack("<12f", 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0)
    mesh = chunk(0x4100, chunk(0x4110, verts) + chunk(0x4140, uvs) + chunk(0x4160, matrix) + chunk(0x4120, faces))
    obj = chunk(0x4000, b"quad\0" + mesh)
    colour = chunk(0x0011, bytes([200, 100, 50]))
    material = chunk(0xAFFF, chunk(0xA000, b"skin\0") + chunk(0xA020, colour) +
                     chunk(0xA200, chunk(0xA300, b"skin.png\0")))
    editor = chunk(0x3D3D, chunk(0x3D3E, struct.pack("<I", 3)) + material + obj)
    return {"quad.3ds": chunk(0x4D4D, chunk(0x0002, struct.pack("<I", 3)) + editor)}


READERS = {"obj": obj, "ply": ply, "stl": stl, "dae": dae, "gltf": lambda: gltf_and_glb()[0],
           "glb": lambda: gltf_and_glb()[1], "x": x, "fbx": fbx, "3ds": tds}


def main():
    out = sys.argv[1]
    names = sys.argv[2:] or list(READERS)
    for reader in names:
        os.makedirs(os.path.join(out, reader), exist_ok=True)
        for name, content in READERS[reader]().items():
            mode = "w" if isinstance(content, str) else "wb"
            with open(os.path.join(out, reader, name), mode) as f:
                f.write(content)


if __name__ == "__main__":
    main()
