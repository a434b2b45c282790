"""One release as scripts/release.sh left it: its work folder (the clone it was built from in
src/, each build's folder) and its output folder, the manifest's files, and what the checks
found."""
import os

from shipped.binaries import Unreadable, linked_objects, read_units, run


def arches(src):
    """packaging/arches.tsv as {id: {column: value}}, the columns named by its "# id" line."""
    columns, table = None, {}
    with open(os.path.join(src, "packaging", "arches.tsv")) as f:
        for line in f:
            fields = line.rstrip("\n").split("\t")
            if line.startswith("# id\t"):
                columns = [fields[0][2:]] + fields[1:]
            elif not line.startswith("#") and line.strip() and columns:
                table[fields[0]] = dict(zip(columns, fields))
    return table


class Release:
    def __init__(self, work, out, scratch):
        self.work, self.out, self.src = work, out, os.path.join(work, "src")
        self.scratch = scratch  # a folder for what the checks write
        self.arches = arches(self.src)
        # The manifest as the builders read it: scripts/manifest.sh, in the sources built.
        self.version = run("sh", "scripts/version.sh", ".", cwd=self.src).strip()
        listed = run("sh", "-c", 'version=$1 && . scripts/manifest.sh && shipped_files', "-",
                     self.version, cwd=self.src)
        self.files = [line.split("\t") for line in listed.splitlines()]
        self.problems, self.programs, self.links = [], [], {}

    def expect(self, ok, problem):
        if not ok:
            self.problems.append(problem)
            print("FAIL " + problem)
        return ok

    def path(self, *parts):
        """A file of the work folder: a build's, or the sources' (src/...)."""
        return os.path.join(self.work, *parts)

    def source(self, *parts):
        with open(os.path.join(self.src, *parts), "rb") as f:
            return f.read()

    def objects(self, build, target):
        """The units of the target's link in the build folder, read, None where they cannot be
        (a problem, once)."""
        if (build, target) not in self.links:
            try:
                self.links[build, target] = read_units(linked_objects(self.path(build), target, self.scratch))
            except Unreadable as error:
                self.expect(False, "build %s: %s" % (build, error))
                self.links[build, target] = None
        return self.links[build, target]

    def program(self, row, data, arch, target, build):
        """A binary of a shipped file, for the hardening table: its row's name, its bytes, the
        architecture id it must be for, its CMake target and the build folder of its link."""
        path = os.path.join(self.scratch, row.replace(" ", "-"))
        with open(path, "wb") as f:
            f.write(data)
        self.programs.append((row, path, arch, target, self.objects(build, target)))
        return path

