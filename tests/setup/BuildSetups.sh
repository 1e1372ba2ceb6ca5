#!/usr/bin/env bash
# Builds the product setups of integration/ as a setup author builds them: from the unpacked
# release archive, with one makensis call each and the Windows Installer sample's build-msi.sh.
#   Morvelin  the samples' defaults: the sample as it ships, around the archive's package
#   Quillpen  around the package with a newer Osk32dll.dll (NEWER-DLL): an update of the engine
#   Broken    around the package without FileList.ini
# and the later builds of Morvelin that its life needs, version 1.1.0 around the newer package:
#   Morvelin11Setup.exe       the NSIS upgrade
#   Morvelin11Setup.msi       the Windows Installer upgrade as the sample ships it (the old
#                             version removed after InstallValidate)
#   Morvelin11LateSetup.msi   the upgrade built with the old version removed after
#                             InstallFinalize, without its RemoveExistingProducts row: Wine's
#                             msiexec would run that removal itself, as a separate installation
#                             that lacks UPGRADINGPRODUCTCODE; the test runs it as Windows does
#   MorvelinFailSetup.msi     version 1.0.0 again
# The three later packages also carry a deferred action of the product's own after the engine's
# install that fails when FAILNOW is set (msiexec ... FAILNOW=1): the rollback cases.
#   BuildSetups.sh ARCHIVE NEWER-DLL OUT-DIR
set -euo pipefail
archive=$1
newer=$2
out=$3
for tool in makensis wixl wixl-heat msibuild; do
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
makensis -V2 -DVERSION=1.1.0 -DPACKAGE_DIR="$out/newer" -DOUTFILE="$out/Morvelin11Setup.exe" \
    "$a/integration/nsis/ProductSetup.nsi"

failing_action() {
    msibuild "$1" -q "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('ProductActionFails', 3073, 'PelmoraAction', 'RunPelmora')" \
        -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`) VALUES ('ProductActionFails', 'FAILNOW', 4020)"
}
"$a/integration/wix/build-msi.sh" -D VERSION=1.1.0 -D PACKAGE_DIR="$out/newer" \
    -D OUTFILE="$out/Morvelin11Setup.msi" >/dev/null
failing_action "$out/Morvelin11Setup.msi"
"$a/integration/wix/build-msi.sh" -D VERSION=1.1.0 -D PACKAGE_DIR="$out/newer" -D REMOVE_OLD=6601 \
    -D OUTFILE="$out/Morvelin11LateSetup.msi" >/dev/null
msibuild "$out/Morvelin11LateSetup.msi" \
    -q "DELETE FROM \`InstallExecuteSequence\` WHERE \`Action\` = 'RemoveExistingProducts'"
failing_action "$out/Morvelin11LateSetup.msi"
"$a/integration/wix/build-msi.sh" -D OUTFILE="$out/MorvelinFailSetup.msi" >/dev/null
failing_action "$out/MorvelinFailSetup.msi"
"$a/integration/wix/build-msi.sh" -D PRODUCT=Broken -D PACKAGE_DIR="$out/broken" \
    -D OUTFILE="$out/BrokenSetup.msi" >/dev/null 2>&1
echo "BuildSetups: 4 NSIS setups and 6 Windows Installer packages in $out ($((SECONDS - start)) s)"
ls -l "$out"/*Setup.*
