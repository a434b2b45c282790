"""The checks of the files a release ships (scripts/check-shipped.py): a module a kind of file
of packaging/release.tsv, named as its kind column, each with check(release, name, arch); the
binaries' readers, the hardening table and its self-check, and libhwid's interface."""
