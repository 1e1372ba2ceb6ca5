#!/usr/bin/env bash
# Builds the product setups of integration/ as a setup author builds them: from the unpacked
# release archive, with one makensis call each and the Windows Installer sample's build-msi.sh.
#   Morvelin  the samples' defaults: the sample as it ships, around the archive's package
#   Quillpen  around the package with a newer Osk32dll.dll (NEWER-DLL): an update of the engine
#   Broken    around the package without FileList.ini
#   BuildSetups.sh ARCHIVE NEWER-DLL OUT-DIR
set -euo pipefail
archive=$1
newer=$2
out=$3
for tool in makensis wixl wixl-heat; do
    command -v "$tool" >/dev/null || { echo "BuildSetups: $tool is missing (scripts/bootstrap)" >&2; exit 1; }
done
rm -rf "$out"
mkdir -p "$out/archive"
(cd "$out/archive" && cmake -E tar xf "$archive")
a=$out/archive
cp -r "$a/package" "$out/newer"
# Copied now, so newer in time too: the version of a DLL held open cannot be read.
cp "$newer" "$out/newer/Osk32dll.dll"
cp -r "$a/package" "$out/broken"
rm "$out/broken/FileList.ini"

start=$SECONDS
makensis -V2 "$a/integration/nsis/ProductSetup.nsi"
mv "$a/integration/nsis/MorvelinSetup.exe" "$out/"
makensis -V2 -DPRODUCT=Quillpen -DPACKAGE_DIR="$out/newer" -DOUTFILE="$out/QuillpenSetup.exe" \
    "$a/integration/nsis/ProductSetup.nsi"
makensis -V2 -DPRODUCT=Broken -DPACKAGE_DIR="$out/broken" -DOUTFILE="$out/BrokenSetup.exe" \
    "$a/integration/nsis/ProductSetup.nsi"

"$a/integration/wix/build-msi.sh" -D OUTFILE="$out/MorvelinSetup.msi" >/dev/null
"$a/integration/wix/build-msi.sh" -D PRODUCT=Quillpen -D PACKAGE_DIR="$out/newer" \
    -D OUTFILE="$out/QuillpenSetup.msi" >/dev/null
"$a/integration/wix/build-msi.sh" -D PRODUCT=Broken -D PACKAGE_DIR="$out/broken" \
    -D OUTFILE="$out/BrokenSetup.msi" >/dev/null 2>&1
echo "BuildSetups: 3 NSIS setups and 3 Windows Installer packages in $out ($((SECONDS - start)) s)"
ls -l "$out"/*Setup.*
