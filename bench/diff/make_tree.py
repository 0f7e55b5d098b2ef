#!/usr/bin/env python3
"""The file tree of the differencing benchmark, made from the Linux side of
the prefix (far faster than through Wine).

  make_tree.py create DIR   200,000 files in 11,110 directories
  make_tree.py change DIR   rewrites every hundredth file, adds 10 folders of
                            20 files; prints the Windows paths of the files
                            a project of the change must hold
"""
import os
import sys

FANOUT = 10          # four levels of 10: 11,110 directories
FILES_PER_LEAF = 20  # 10,000 leaf directories: 200,000 files


def leaves(root):
    for a in range(FANOUT):
        for b in range(FANOUT):
            for c in range(FANOUT):
                for d in range(FANOUT):
                    yield os.path.join(root, f"dir{a}", f"dir{b}", f"dir{c}", f"dir{d}")


def content(index, extra=0):
    size = 256 + index % 512 + extra
    return (f"file {index} ".encode() * (size // 8 + 1))[:size]


def windows(root, path):
    # root is .../drive_c/bench/tree
    return "C:\\bench\\tree\\" + os.path.relpath(path, root).replace("/", "\\")


def create(root):
    index = 0
    for leaf in leaves(root):
        os.makedirs(leaf, exist_ok=True)
        for f in range(FILES_PER_LEAF):
            with open(os.path.join(leaf, f"file{f:02d}.dat"), "wb") as out:
                out.write(content(index))
            index += 1


def change(root):
    index = 0
    changed = []
    for leaf in leaves(root):
        for f in range(FILES_PER_LEAF):
            if index % 100 == 0:
                path = os.path.join(leaf, f"file{f:02d}.dat")
                with open(path, "wb") as out:
                    out.write(content(index, 1))
                changed.append(windows(root, path))
            index += 1
    for n in range(10):
        folder = os.path.join(root, f"dir{n}", f"added{n}")
        os.makedirs(folder)
        for f in range(FILES_PER_LEAF):
            path = os.path.join(folder, f"new{f:02d}.dat")
            with open(path, "wb") as out:
                out.write(content(n * 100 + f))
            changed.append(windows(root, path))
    sys.stdout.write("\r\n".join(changed) + "\r\n")


if __name__ == "__main__":
    {"create": create, "change": change}[sys.argv[1]](sys.argv[2])
