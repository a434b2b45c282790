# shellcheck shell=sh
# The release as data, sourced by the scripts that build, check and prove it:
#
#   shipped_files [KIND|PROVER|BUILDER]...
#       one line a shipped file: kind, file name, architecture id ("-" for
#       none), builder, prover, tab-separated, in packaging/release.tsv's
#       order; only the rows any of the words names in a column, when given
#   arch_field ID COLUMN
#       packaging/arches.tsv's COLUMN for the architecture ID
#   arches_with COLUMN
#       the ids of the architectures that have a name in COLUMN
#
# Both need $version (scripts/version.sh) only for the file names; {semver}
# in a name is its npm form.
# Beside the sourcing script, which lives in scripts/.
manifest_dir=$(cd "$(dirname "$0")/../packaging" 2>/dev/null && pwd) ||
    manifest_dir=$(pwd)/packaging  # sourced after a cd to the checkout

# arches.tsv's columns are named by its "# id" line.
manifest_awk() {  # awk program, files...
    awk -F '\t' -v version="${version:-VERSION}" -v wanted="${wanted:-}" '
        function header(line) { sub(/^# /, "", line); return split(line, names, "\t") }
        # npm takes three numbers: the fourth goes where it is 0 (a release
        # whose fourth is not 0 needs its own rule, and npm pack refuses it).
        BEGIN { semver = version; if (split(version, part, ".") == 4 && part[4] == "0") semver = part[1] "." part[2] "." part[3] }
        FILENAME ~ /arches\.tsv$/ {
            if (/^# id\t/) count = header($0)
            else if (!/^#/ && NF) for (i = 1; i <= count; i++) arch[$1, names[i]] = $i
            next
        }
        '"$1" "$manifest_dir/arches.tsv" "$manifest_dir/release.tsv"
}

shipped_files() {
    wanted=" $* " manifest_awk '
        /^#/ || !NF { next }
        wanted != "  " && index(wanted, " " $1 " ") + index(wanted, " " $4 " ") + index(wanted, " " $5 " ") == 0 { next }
        {
            n = split($3, ids, ",")
            for (i = 1; i <= n; i++) {
                name = $2
                gsub(/\{version\}/, version, name)
                gsub(/\{semver\}/, semver, name)
                while (match(name, /\{[a-z]+\}/)) {
                    field = substr(name, RSTART + 1, RLENGTH - 2)
                    name = substr(name, 1, RSTART - 1) arch[ids[i], field] substr(name, RSTART + RLENGTH)
                }
                print $1 "\t" name "\t" ids[i] "\t" $4 "\t" $5
            }
        }'
}

arch_field() {  # id, column
    id=$1 column=$2 manifest_awk 'END { v = arch[ENVIRON["id"], ENVIRON["column"]]; if (v == "") exit 1; print v }'
}

arches_with() {  # column
    column=$1 manifest_awk 'END { for (key in arch) { split(key, k, SUBSEP); if (k[2] == ENVIRON["column"] && arch[key] != "-") print k[1] } }' | sort
}
