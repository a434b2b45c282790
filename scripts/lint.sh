#!/bin/sh
# Static analysis of every tracked source, one check per tool:
#
#   every shell script   shellcheck, warnings and up, following what it sources
#   every C and C++ file clang-format against .clang-format
#   every .c, .cpp file  cppcheck (the Windows ones too), warnings and up
#   the Linux build      clang-tidy with the checks of .clang-tidy
#   every Python file    compiles, and pyflakes finds nothing
#   every JavaScript file Node parses it
#
# Usage: scripts/lint.sh   (no root needed once the tools are installed;
# about a minute on 2 cores). Installs what is missing (scripts/install-deps.sh
# lint); its compile database goes to build-lint/. Ends with "N passed,
# M failed, K skipped"; exit status 0 when everything passed, 1 otherwise.
# shellcheck source=scripts/guard.sh
. "$(dirname "$0")/guard.sh"
# shellcheck source=scripts/checks.sh
. "$(dirname "$0")/checks.sh"
set -u
cd "$(dirname "$0")/.." || exit 1
jobs=$(nproc)
build="build-lint"

checks_start lint
scratch=$(mktemp -d "${TMPDIR:-/tmp}/hwid-lint.XXXXXX") || exit 1
at_exit 'rm -rf "$scratch"'

# A tool missing after the install step fails its check by name.
tool() {  # program
    command -v "$1" >/dev/null || { echo "$1 is not installed" >&2; return 1; }
}

# Tracked files that are still there (another change may have removed one).
tracked() {  # pathspec...
    git ls-files -- "$@" | while IFS= read -r file; do
        [ -f "$file" ] && echo "$file"
    done
}

# Scripts without an extension are known by their first line.
with_shebang() {  # pattern of the interpreter
    git ls-files | grep -v '\.[^/]*$' | while IFS= read -r file; do
        [ -f "$file" ] && head -n 1 "$file" | grep -Eq "^#!.*[/ ]($1)( |\$)" && echo "$file"
    done
}

shell_scripts() {
    { tracked '*.sh' && with_shebang 'sh|bash|dash'; } | sort -u
}

python_files() {
    { tracked '*.py' && with_shebang 'python3?'; } | sort -u
}

# Runs a command on the paths listed in a file, one a line.
on_files() {  # list file, command...
    list=$1
    shift
    xargs -r -d '\n' -a "$list" "$@"
}

# Sourced helpers are named relative to the repository's root; without
# such a directive SCRIPTDIR resolves "$(dirname "$0")/NAME".
lint_shell() {
    tool shellcheck || return 1
    shell_scripts >"$scratch/shell"
    shell_status=0
    on_files "$scratch/shell" shellcheck -S warning -x -P SCRIPTDIR || shell_status=1
    # At warning level a sourced file shellcheck cannot find passes without a
    # word, and with it every name that file defines: find those lines.
    on_files "$scratch/shell" shellcheck -S info -i SC1090,SC1091 -x -P SCRIPTDIR ||
        shell_status=1
    return "$shell_status"
}

lint_format() {
    tool clang-format || return 1
    tracked '*.cpp' '*.h' '*.c' >"$scratch/cxx"
    on_files "$scratch/cxx" clang-format --dry-run -Werror
}

lint_compile_database() {
    tool cmake || return 1
    timeout 300 cmake -S . -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
        >"$scratch/cmake.log" 2>&1 || {
        cat "$scratch/cmake.log"
        return 1
    }
    [ -s "$build/compile_commands.json" ] || { echo "cmake wrote no compile_commands.json"; return 1; }
}

# Without the GoogleTest and Windows libraries cppcheck takes TEST(...) and
# the Windows API for syntax errors and leaves those files out; such a
# finding is an error, so it fails the check like any other. The build
# folder holds the generated headers (windows/ui/version.h); the bindings'
# C includes hwid.h as a user's program does, from libhwid/.
cppcheck_run() {  # options...
    on_files "$scratch/cpp" cppcheck --library=googletest,windows,posix -I. -I"$build" -Ilibhwid \
        --std=c++17 --std=c11 -q "$@" \
        --template='{file}:{line}:{column}: {severity}: {message} [{id}]'
}

lint_cppcheck() {
    tool cppcheck || return 1
    tracked '*.cpp' '*.c' >"$scratch/cpp"
    # A header of ours it does not find would leave code unchecked, silently.
    cppcheck_run --check-config --suppress=missingIncludeSystem >"$scratch/includes" 2>&1
    if [ -s "$scratch/includes" ]; then
        cat "$scratch/includes"
        return 1
    fi
    cppcheck_run -j"$jobs" --enable=warning,performance,portability --inline-suppr \
        --error-exitcode=1
}

lint_tidy() {
    tool run-clang-tidy && tool clang-tidy || return 1
    [ -s "$build/compile_commands.json" ] || { echo "no compile database in $build"; return 1; }
    # Findings only: not the command line and warning count of every file,
    # nor the colours run-clang-tidy always asks for.
    headers="^$(pwd | sed 's/[][\\.*^$+?(){}|]/\\&/g')/"
    timeout 900 run-clang-tidy -quiet -p "$build" -j"$jobs" -header-filter="$headers" \
        >"$scratch/tidy.log" 2>&1
    tidy_status=$?
    sed 's/\x1b\[[0-9;]*m//g' "$scratch/tidy.log" |
        grep -Ev '^(clang-tidy(-[0-9]+)? .* -p=|[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$|Suppressed [0-9]+ warnings|Use -header-filter|$)'
    return "$tidy_status"
}

lint_python() {
    tool python3 && tool pyflakes3 || return 1
    python_files >"$scratch/python"
    # Compiled into the scratch folder, not into __pycache__ in the tree.
    on_files "$scratch/python" env PYTHONPYCACHEPREFIX="$scratch/pycache" \
        python3 -m py_compile || return 1
    on_files "$scratch/python" pyflakes3
}

lint_js() {
    tool node || return 1
    tracked '*.js' >"$scratch/js"
    # node --check reads one file; the words after it are the script's.
    on_files "$scratch/js" sh -c 'for file; do node --check "$file" || exit 1; done' -
}

check "packages installed" timeout 1500 scripts/install-deps.sh lint
check shellcheck lint_shell
check clang-format lint_format
check "compile database ($build)" lint_compile_database
check cppcheck lint_cppcheck
check clang-tidy lint_tidy
check python lint_python
check javascript lint_js
finish
