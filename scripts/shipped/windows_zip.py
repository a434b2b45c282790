"""hwidwin's Windows archive: both builds of the program, each the build's, and the texts
beside them, their lines ended CR LF for Notepad."""
import os
import zipfile

TEXTS = {  # what each text must say
    "LICENSE.txt": [b"MIT License"],
    "README.txt": [b"64-bit\\hwidwin.exe", b"32-bit\\hwidwin.exe", b"--generate"],
    "THIRD-PARTY-NOTICES.txt": [b"pystring", b"Copyright: ", b"Redistribution and use in "
                                b"source and binary forms", b"Neither the name of the organization"],
}
FILES = sorted(["32-bit/hwidwin.exe", "64-bit/hwidwin.exe", *TEXTS])
WIDTHS = {"win32": "32", "win64": "64"}  # each build's architecture id: its bits


def opened(release, name, files):
    """The archive and its top folder, None when it does not hold exactly the files."""
    archive = zipfile.ZipFile(os.path.join(release.out, name))
    names = archive.namelist()
    top = names[0].split("/", 1)[0] + "/"
    found = sorted(n[len(top):] for n in names if not n.endswith("/"))
    if release.expect(found == files and all(n.startswith(top) for n in names),
                      "%s: files %s, want %s" % (name, found, files)):
        print("%s: %d files" % (name, len(found)))
        return archive, top
    return None, None


def texts_read(release, name, archive, top, texts):
    for text, words in texts.items():
        body = archive.read(top + text)
        release.expect(b"\r\n" in body and body.count(b"\n") == body.count(b"\r\n"),
                       "%s: %s does not end its lines with CR LF" % (name, text))
        for word in words:
            release.expect(word in body, "%s: %s lacks %r" % (name, text, word))


def same_member(release, name, archive, member, built):
    """The member's bytes, when they are the file's; a problem when not."""
    data = archive.read(member)
    with open(built, "rb") as f:
        release.expect(data == f.read(), "%s: %s is not %s" % (name, member.split("/", 1)[1], built))
    return data


def check(release, name, arch):
    archive, top = opened(release, name, FILES)
    if archive:
        for build, bits in WIDTHS.items():
            program = same_member(release, name, archive, "%s%s-bit/hwidwin.exe" % (top, bits),
                                  release.path(build, "windows", "hwidwin.exe"))
            release.program("windows %s-bit" % bits, program, build, "hwidwin", build)
        texts_read(release, name, archive, top, TEXTS)
