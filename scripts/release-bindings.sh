# shellcheck shell=sh disable=SC2154 # work, src, out, version and the rest are release.sh's
# The builders of the bindings' packages, sourced by scripts/release.sh and
# run in its build_release: each takes the libraries the release built for
# every architecture ($work), the sources ($src) and writes into $out.

# The release's library of an architecture: the Windows build's hwid.dll, or
# the portable libhwid of the Linux tarballs.
release_library() {  # architecture id
    case $1 in
        win*) echo "$work/$1/libhwid/hwid.dll" ;;
        *) echo "$work/libhwid-$(arch_field "$1" portable)/libhwid/libhwid.so.1.0.0" ;;
    esac
}

# The Python package for an architecture: a copy of libhwid/python holding
# the release's library of it (the portable one of the Linux tarballs, or
# hwid.dll), tagged for the machines that library runs on. The wheel keeps
# its files' modes: those copied are fixed, and those setuptools writes are
# made under umask 022 whatever the caller's.
build_wheel() {  # architecture id
    stage="$work/wheel-$1" tag=$(arch_field "$1" wheel)
    library=$(release_library "$1") name=libhwid.so.1
    case $1 in win*) name=hwid.dll ;; esac
    rm -rf "$stage" && cp -R "$src/libhwid/python" "$stage" &&
        cp "$src/libhwid/README.md" "$src/LICENSE" "$stage/" && cp "$library" "$stage/src/hwid/$name" &&
        echo "$version" >"$stage/VERSION" &&
        printf '[bdist_wheel]\npython_tag = py3\nplat_name = %s\n' "$tag" >"$stage/setup.cfg" &&
        chmod -R u=rwX,go=rX "$stage" && chmod a-x "$stage/src/hwid/$name" &&
        (umask 022 && cd "$stage" && python3 -m build --wheel --no-isolation --outdir "$stage/dist") &&
        cp "$stage/dist/hwid-$version-py3-none-$tag.whl" "$out/"
}

# The npm package: an addon for each platform that arches.tsv names for Node,
# built in the build folder of that platform's libhwid (its objects are the
# library's, compiled once) against Node-API's headers, and packed by npm
# pack in the Debian 13 root. Modes are fixed before packing: npm keeps them.
build_npm() {
    headers=$("$src/scripts/npm-fetch.sh" "$root" node-api-headers "$work/npm-fetched" | tail -n 1) &&
        stage="$work/npm" && rm -rf "$stage" && cp -R "$src/libhwid/node" "$stage" &&
        cp "$src/libhwid/README.md" "$src/LICENSE" "$stage/" &&
        cp "$pystring/LICENSE" "$stage/LICENSE.pystring" || return 1
    for arch in $(arches_with node); do
        case $arch in
            win*) build="$work/$arch" ;;
            *) build="$work/libhwid-$(arch_field "$arch" portable)" ;;
        esac
        prebuild="$stage/prebuilds/$(arch_field "$arch" node)"
        cmake -S "$src" -B "$build" -DHWID_NODE_API_HEADERS="$headers" &&
            cmake --build "$build" -j"$jobs" --target hwid_node &&
            mkdir -p "$prebuild" && cp "$build/libhwid/node/hwid.node" "$prebuild/" || return 1
    done
    sed -i "s/^  \"version\": \"0.0.0\",\$/  \"version\": \"$semver\",/" "$stage/package.json" &&
        grep -q "\"version\": \"$semver\"" "$stage/package.json" &&
        chmod -R u=rwX,go=rX "$stage" && find "$stage/prebuilds" -type f -exec chmod a-x {} + &&
        rm -rf "$root/tmp/npm-out" &&
        scripts/distro-root.sh run --src-at /npm "$root" "$stage" \
            sh -c 'mkdir /tmp/npm-out && cd /tmp/npm-out && HOME=/tmp/npm-home npm pack --silent /npm' &&
        cp "$root/tmp/npm-out/hwid-$semver.tgz" "$out/"
}

# The jar: zef.hwid compiled for Java 17 against Debian's JNA, each
# library JNA names a folder for (the portable one of the Linux tarballs,
# or hwid.dll) in that folder, the pom inside as Maven places it; entries
# in a fixed order, dated at the commit.
build_jar() {
    stage="$work/jar" && rm -rf "$stage" && mkdir -p "$stage/META-INF/maven/zef/hwid" &&
        javac --release 17 -encoding UTF-8 -cp /usr/share/java/jna.jar -d "$stage" \
            "$src"/libhwid/java/src/zef/hwid/*.java &&
        sed "0,/<version>0.0.0</s//<version>$version</" "$src/libhwid/java/pom.xml" \
            >"$stage/META-INF/maven/zef/hwid/pom.xml" &&
        printf 'artifactId=hwid\ngroupId=zef\nversion=%s\n' "$version" \
            >"$stage/META-INF/maven/zef/hwid/pom.properties" &&
        cp "$src/libhwid/README.md" "$src/LICENSE" "$stage/" &&
        cp "$pystring/LICENSE" "$stage/LICENSE.pystring" || return 1
    for arch in $(arches_with jna); do
        folder="$stage/$(arch_field "$arch" jna)" && mkdir -p "$folder" || return 1
        name=libhwid.so
        case $arch in win*) name=hwid.dll ;; esac
        cp "$(release_library "$arch")" "$folder/$name" || return 1
    done
    (cd "$stage" && find . -type f | LC_ALL=C sort | xargs jar --create \
        --date="$(date -u -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%dT%H:%M:%SZ)" --file "$out/zef-hwid-$version.jar")
}

# The NuGet package: Zef.Hwid.dll built by Mono's mcs, and each library
# NuGet names a runtime for (the portable one of the Linux tarballs as
# libhwid.so, or hwid.dll) under runtimes/RID/native/, zipped as nuget pack
# lays a package out (libhwid/dotnet/pack.py), dated at the commit.
build_nuget() {
    stage="$work/nuget" && rm -rf "$stage" && "$src/libhwid/dotnet/build.sh" "$stage" "$version" || return 1
    set --
    for arch in $(arches_with nuget); do
        set -- "$@" --native "$(arch_field "$arch" nuget)=$(release_library "$arch")"
    done
    python3 "$src/libhwid/dotnet/pack.py" --version "$semver" --out "$out/Zef.Hwid.$semver.nupkg" \
        --assembly "$stage" "$@" --file README.md="$src/libhwid/README.md" --file LICENSE="$src/LICENSE" \
        --file LICENSE.pystring="$pystring/LICENSE" >/dev/null
}
