#!/usr/bin/env bash
# Makes the release a user downloads, dist/tolvane-pellimor-VERSION.zip: the
# six plug-ins in win32/, win64/ and winarm64/, the read-me in English and in Japanese,
# the licence and the plug-ins' SHA-256 sums. `./run package` builds the
# plug-ins and then runs this.
#
# The zip holds the files in a fixed order with the time of the last commit
# and fixed permissions, so that two builds of one commit, at any time and in
# any folder, give the same bytes (the plug-ins themselves carry no link time
# and no build path).
set -euo pipefail
cd "$(dirname "$0")/.."

# The version CMake wrote for each build; all must be the same release.
version=$(cat build/win32/version.txt)
for form in win64 winarm64; do
    if [ "$(cat build/$form/version.txt)" != "$version" ]; then
        echo "build/win32 and build/$form were configured for different versions" >&2
        exit 1
    fi
done
name=tolvane-pellimor-$version
stage=build/package/$name
plugins=(win32/tolvane.spi win32/pellimor.spi win64/tolvane.sph win64/pellimor.sph
         winarm64/tolvane.spha winarm64/pellimor.spha)

rm -rf "$stage"
mkdir -p "$stage/win32" "$stage/win64" "$stage/winarm64"
for p in "${plugins[@]}"; do cp "dist/$p" "$stage/$p"; done
# Text files with Windows line ends, as their readers expect.
sed "s/@VERSION@/$version/g; s/\$/\r/" tools/package/README.txt >"$stage/README.txt"
# The Japanese one starts with UTF-8's byte-order mark: Notepad then reads it
# as UTF-8 whatever the system's code page.
{ printf '\357\273\277'; sed "s/@VERSION@/$version/g; s/\$/\r/" tools/package/README.ja.txt; } >"$stage/README.ja.txt"
sed 's/$/\r/' LICENSE >"$stage/LICENSE.txt"
(cd "$stage" && sha256sum "${plugins[@]}" >SHA256SUMS.txt)

export TZ=UTC
stamp=$(git log -1 --format=%cd --date=format-local:%Y%m%d%H%M.%S)
find "$stage" -exec touch -t "$stamp" {} +
# The zip keeps each file's permissions too: the same whatever the umask.
find "$stage" -type f -exec chmod 644 {} +
rm -f "dist/$name.zip"
(cd "$stage" && zip -X -D -q "$OLDPWD/dist/$name.zip" README.txt README.ja.txt LICENSE.txt SHA256SUMS.txt "${plugins[@]}")

unzip -l "dist/$name.zip"
sha256sum "dist/$name.zip"
